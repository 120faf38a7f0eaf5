#include "sim/k52fw/k52_firmware.h"

#include <algorithm>
#include <utility>

#include "sim/card/t1_block.h"
#include "sim/k52fw/t0_exchange.h"

namespace k52::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kPtss = 0xFF;
constexpr std::uint8_t kModeT1 = 0x10;
constexpr std::uint8_t kModeConstant = 0x10;
constexpr std::uint8_t kDefaultWi = 10;
// The terminal's own outcomes of a PIN entry, sent as the status bytes.
constexpr std::uint8_t kPinTimeout = 0x00;
constexpr std::uint8_t kPinCancelled = 0x01;
constexpr std::uint8_t kPinOther = 0x02;
// Waiting-time extensions the terminal grants a card during a PIN command.
constexpr int kMaxPinWtx = 16;

Bytes error() {
  return {link::kAnswerError};
}

Bytes dataAnswer(std::span<const std::uint8_t> bytes = {}) {
  Bytes answer{link::kAnswerData};
  answer.insert(answer.end(), bytes.begin(), bytes.end());
  return answer;
}

Bytes pinOutcome(std::uint8_t outcome) {
  return {link::kAnswerData, 0x64, outcome};
}

// The parameter count each command takes; nullopt for one of variable
// length.
std::optional<std::size_t> parameterCount(std::uint8_t command) {
  switch (command) {
    case link::kSetMode:
      return link::kModeBytes;
    case link::kCardExchange:
    case link::kCardExchangeExtended:
    case link::kVerifyPin:
    case link::kModifyPin:
      return std::nullopt;
    default:
      return 0;
  }
}

bool known(std::uint8_t command) {
  return command >= link::kCheck && command <= link::kModifyPin && command != 0x66 &&
         command != 0x6B;
}

}  // namespace

K52Firmware::K52Firmware(Timeline& timeline, TerminalIdentity identity)
    : timeline_(timeline),
      identity_(std::move(identity)),
      self_(std::make_shared<K52Firmware*>(this)) {
  mode_ = {0, 0, kDefaultWi, 0, kModeConstant};
  slot_.onPulled([this] {
    lastT0Command_.clear();
    if (answerDue_) finishLateAnswer(error());
  });
}

K52Firmware::~K52Firmware() = default;

bool K52Firmware::t1Mode() const {
  return mode_[0] & kModeT1;
}

Duration K52Firmware::workWaitingTime() const {
  // 960 x WI x 372 / 5 MHz = WI x 71.424 ms.
  const auto wi = std::max<std::uint8_t>(mode_[2], 1);
  return std::chrono::microseconds(71424) * wi;
}

std::vector<std::uint8_t> K52Firmware::execute(std::span<const std::uint8_t> command) {
  // The host's "go on waiting" string: nothing to answer, the late answer
  // comes on its own.
  if (command.empty()) return {};
  if (answerDue_) return error();
  const std::uint8_t code = command[0];
  if (!known(code)) return error();
  const auto count = parameterCount(code);
  if (count && command.size() - 1 != *count) return error();
  return dispatch(command);
}

std::vector<std::uint8_t> K52Firmware::dispatch(std::span<const std::uint8_t> command) {
  const std::uint8_t code = command[0];
  const auto parameters = command.subspan(1);
  switch (code) {
    case link::kCheck:
      return dataAnswer();
    case link::kSetMode:
      std::ranges::copy(parameters, mode_.begin());
      return dataAnswer();
    case link::kPowerOn:
      return powerOn(false);
    case link::kWarmReset:
      return powerOn(true);
    case link::kPowerOff:
    case link::kRemoved:
      if (slot_.contacts()) slot_.contacts()->powerOff();
      lastT0Command_.clear();
      return dataAnswer();
    case link::kStatus:
      return status();
    case link::kCapabilities:
      return capabilityAnswer(identity_);
    case link::kCardExchange:
    case link::kCardExchangeExtended:
      return cardExchange(parameters);
    case link::kRetry:
      if (!slot_.powered() || t1Mode() || lastT0Command_.empty()) return error();
      return exchangeT0Command(Bytes(lastT0Command_));
    case link::kVerifyPin:
    case link::kModifyPin:
      return startPinEntry(code, parameters);
    default:
      return error();
  }
}

std::vector<std::uint8_t> K52Firmware::powerOn(bool warm) {
  ContactCard* contacts = slot_.contacts();
  if (!contacts) return error();
  const Bytes atr = warm && contacts->powered() ? contacts->reset() : contacts->powerOn();
  // After an ATR the terminal runs the card's first protocol at the
  // default timing until the host sets another mode.
  mode_ = {static_cast<std::uint8_t>(contacts->protocol() == CardProtocol::kT1 ? kModeT1 : 0), 0,
           kDefaultWi, 0, kModeConstant};
  lastT0Command_.clear();
  hostSequence_ = 0;
  return dataAnswer(atr);
}

std::vector<std::uint8_t> K52Firmware::status() const {
  const std::uint8_t protocol = t1Mode() ? 1 : 0;
  return {link::kAnswerData, slot_.statusByte(), protocol, 0x00, slot_.cardType()};
}

std::vector<std::uint8_t> K52Firmware::cardExchange(std::span<const std::uint8_t> bytes) {
  ContactCard* contacts = slot_.contacts();
  if (!contacts || !contacts->powered() || bytes.empty()) return error();
  if (bytes[0] == kPtss) {
    const Bytes answer = contacts->pts(bytes);
    return answer.empty() ? error() : dataAnswer(answer);
  }
  if (!t1Mode()) return exchangeT0Command(bytes);
  if (bytes.size() > 1 && t1::isIBlock(bytes[1])) {
    hostSequence_ = static_cast<std::uint8_t>(t1::sequenceOf(bytes[1]) ^ 1);
  }
  const Bytes block = contacts->t1(bytes);
  return block.empty() ? error() : dataAnswer(block);
}

std::vector<std::uint8_t> K52Firmware::exchangeT0Command(std::span<const std::uint8_t> command) {
  ContactCard& contacts = *slot_.contacts();
  lastT0Command_.assign(command.begin(), command.end());
  const auto response = exchangeT0(contacts, command);
  if (!response) return error();
  lastT0Command_.clear();
  Bytes answer = dataAnswer(*response);

  const Duration work = contacts.t0Transport().options().workTime;
  const Duration wwt = workWaitingTime();
  if (work <= wwt) return answer;
  // The card keeps quiet past the work waiting time: tell the host each
  // time it runs out, then answer when the card does.
  beginLateAnswer();
  for (Duration at = wwt; at < work; at += wwt) {
    afterDelay(at, [this] {
      if (lateAnswers_) lateAnswers_({link::kAnswerWaiting});
    });
  }
  afterDelay(work, [this, answer] { finishLateAnswer(answer); });
  return {};
}

std::vector<std::uint8_t> K52Firmware::startPinEntry(std::uint8_t code,
                                                     std::span<const std::uint8_t> data) {
  if (!slot_.powered()) return error();
  auto command = parsePinCommand(code, data);
  if (!command) return pinOutcome(kPinOther);
  beginLateAnswer();
  pinCommand_ = std::move(*command);
  dialogue_.emplace(*pinCommand_);
  armPinTimeout();
  if (onPinEntry_) onPinEntry_();
  return {};
}

void K52Firmware::armPinTimeout() {
  afterDelay(pinCommand_->timeout, [this, entry = dialogue_->entry()] {
    if (dialogue_ && dialogue_->entry() == entry) finishLateAnswer(pinOutcome(kPinTimeout));
  });
}

bool K52Firmware::pressKey(KeypadKey key) {
  if (!dialogue_) return false;
  const std::size_t entry = dialogue_->entry();
  dialogue_->key(key);
  const auto end = dialogue_->end();
  if (!end) {
    if (dialogue_->entry() != entry) armPinTimeout();
    return true;
  }
  switch (*end) {
    case PinDialogueEnd::kCancelled:
      finishLateAnswer(pinOutcome(kPinCancelled));
      break;
    case PinDialogueEnd::kMismatch:
      finishLateAnswer(pinOutcome(kPinOther));
      break;
    case PinDialogueEnd::kDone: {
      const PinCommand command = *pinCommand_;
      const auto pins = dialogue_->pins();
      endPinEntry();
      finishLateAnswer(sendPinCommand(command, pins));
      break;
    }
  }
  return true;
}

bool K52Firmware::takeScanCode(std::uint8_t code) {
  constexpr std::uint8_t kExtendedPrefix = 0xE0;
  if (code == kExtendedPrefix) return dialogue_.has_value();
  const auto make = static_cast<std::uint8_t>(code & ~Keyboard::kBreakBit);
  if (code & Keyboard::kBreakBit) {
    if (heldKeys_[make]) {
      heldKeys_[make] = false;
      return true;
    }
    return dialogue_.has_value();
  }
  if (!dialogue_) return false;
  heldKeys_[make] = true;
  if (const auto key = keypadKeyOf(make)) pressKey(*key);
  return true;
}

void K52Firmware::attachKeypad(Keyboard& keyboard) {
  keyboard.setKeyFilter([this](std::uint8_t code) { return takeScanCode(code); });
}

void K52Firmware::endPinEntry() {
  dialogue_.reset();
  pinCommand_.reset();
}

std::vector<std::uint8_t> K52Firmware::sendPinCommand(
    const PinCommand& command, std::span<const std::vector<std::uint8_t>> pins) {
  ContactCard* contacts = slot_.contacts();
  if (!contacts || !contacts->powered()) return error();
  Bytes apdu = buildPinApdu(command, pins);

  if (!t1Mode()) {
    // T=0 carries no Le with command data: the card keeps response data
    // for GET RESPONSE, and only its status bytes go to the host.
    if (apdu.size() == 5u + apdu[4] + 1) apdu.pop_back();
    const auto response = exchangeT0(*contacts, apdu);
    if (!response) return error();
    return dataAnswer(std::span(*response).last(2));
  }

  if (apdu.size() > t1::kMaxInf) return pinOutcome(kPinOther);
  const std::uint8_t ns =
      command.sequence
          ? static_cast<std::uint8_t>(t1::sequenceOf(*command.sequence & t1::kISequence))
          : hostSequence_;
  hostSequence_ = ns ^ 1;
  Bytes block = t1::encode(0, t1::iPcb(ns, false), apdu);
  for (int round = 0; round <= kMaxPinWtx; ++round) {
    const Bytes answer = contacts->t1(block);
    if (answer.empty()) return error();
    t1::Block decoded;
    const bool wtx = t1::decode(answer, decoded) == t1::BlockError::kNone &&
                     decoded.pcb == t1::sPcb(t1::kSWtx, false);
    // The terminal grants the card's waiting-time requests itself; the host
    // sees the card's answer block.
    if (!wtx) return dataAnswer(answer);
    block = t1::encode(0, t1::sPcb(t1::kSWtx, true), decoded.inf);
  }
  return error();
}

void K52Firmware::beginLateAnswer() {
  answerDue_ = true;
  ++lateAnswer_;
}

void K52Firmware::finishLateAnswer(std::vector<std::uint8_t> answer) {
  answerDue_ = false;
  ++lateAnswer_;
  endPinEntry();
  if (lateAnswers_) lateAnswers_(std::move(answer));
}

void K52Firmware::afterDelay(Duration delay, std::function<void()> action) {
  timeline_.schedule(delay,
                     [weak = std::weak_ptr(self_), due = lateAnswer_, action = std::move(action)] {
                       const auto self = weak.lock();
                       if (!self || (*self)->lateAnswer_ != due) return;
                       action();
                     });
}

}  // namespace k52::sim

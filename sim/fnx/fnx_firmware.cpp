#include "sim/fnx/fnx_firmware.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "chiphost/core/cdes.h"
#include "chiphost/readers/checksum.h"
#include "chiphost/readers/fnx_protocol.h"

namespace k52::sim {

namespace fnx = chiphost::fnx;
using namespace std::chrono_literals;

namespace {

// A pause this long between characters ends a frame that was not finished.
constexpr Duration kInterCharacterLimit = 50ms;
constexpr std::size_t kMaxLength = 16;

bool equalTo(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> command) {
  return std::equal(bytes.begin(), bytes.end(), command.begin(), command.end());
}

// kMore while `bytes` is a proper prefix of `command`.
template <typename Need>
Need prefixOf(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> command) {
  if (bytes.size() > command.size()) return Need::kInvalid;
  if (!std::equal(bytes.begin(), bytes.end(), command.begin())) return Need::kInvalid;
  return bytes.size() == command.size() ? Need::kComplete : Need::kMore;
}

}  // namespace

FnxFirmware::FnxFirmware(FnxConfig config, Sender send) : config_(config), send_(std::move(send)) {
  slots_.resize(config_.type == 7 || config_.type == 8 ? 2 : 1);
  lineParity_ = config_.type == 3 ? 0 : 2;
}

bool FnxFirmware::rateMatches(std::uint32_t hostBaud, std::int32_t firmwareSpeed) {
  const long difference = std::labs(static_cast<long>(hostBaud) - firmwareSpeed);
  return difference * 100 <= 3L * firmwareSpeed;
}

void FnxFirmware::insertCard(int slot, std::shared_ptr<ContactCard> card) {
  Slot& s = slots_.at(slot);
  s.card = std::move(card);
  s.changed = true;
  if (onCardChange) onCardChange();
}

void FnxFirmware::pullCard(int slot) {
  Slot& s = slots_.at(slot);
  if (!s.card) return;
  s.card->powerOff();
  s.card.reset();
  s.changed = true;
  if (onCardChange) onCardChange();
}

bool FnxFirmware::cardPresent(int slot) const {
  return slots_.at(slot).card != nullptr;
}

void FnxFirmware::lineBreak() {
  speed_ = 9600;
  resetParser();
  transfer_.reset();
}

void FnxFirmware::resetParser() {
  frame_.clear();
}

void FnxFirmware::receiveGarbled(Duration now) {
  // A character the UART could not read breaks the frame it belonged to.
  lastByte_ = now;
  resetParser();
  transfer_.reset();
}

void FnxFirmware::receive(std::uint8_t byte, Duration now) {
  if (lastByte_ >= Duration::zero() && now - lastByte_ > kInterCharacterLimit) {
    resetParser();
    transfer_.reset();
  }
  lastByte_ = now;
  if (transfer_) {
    transparentByte(byte);
    return;
  }
  frameByte(byte);
}

FnxFirmware::Need FnxFirmware::parse(std::span<const std::uint8_t> c) const {
  if (c.empty()) return Need::kMore;
  switch (c[0]) {
    case 0x00:
    case 0x02:
    case 0x03:
    case 0x0C:
      return c.size() == 1 ? Need::kComplete : Need::kInvalid;
    case 0x69:
      return prefixOf<Need>(c, fnx::kIdentify);
    case 0x6A:
      return prefixOf<Need>(c, fnx::kLedOn);
    case 0x6B:
      return prefixOf<Need>(c, fnx::kLedOff);
    case 0x70:
      return prefixOf<Need>(c, fnx::kPowerOn);
    case 0x80:
      return prefixOf<Need>(c, fnx::kPowerOff);
    case fnx::kSpeedOp:
      if (c.size() >= 3 && c[1] == 0x01 && c[2] == 0x02) return prefixOf<Need>(c, fnx::kSpeedTest);
      if (c.size() < 5) return Need::kMore;
      // The speed command ends in 0x08, the driver's timing frame in 0x0E.
      return c.size() == 5 && (c[4] == 0x08 || (c[3] == 0x00 && c[4] == 0x0E)) ? Need::kComplete
                                                                               : Need::kInvalid;
    case fnx::kTransferOp:
      if (c.size() < 3) return Need::kMore;
      if (c[2] == 0x6A) {
        if (c.size() == 3) return Need::kMore;
        return c.size() == 4 && c[3] == 0x0F ? Need::kComplete : Need::kInvalid;
      }
      if (c[1] == 0x00 && (c[2] == fnx::kResetVariant1 || c[2] == fnx::kResetVariant0)) {
        if (c.size() == 3) return Need::kMore;
        return c.size() == 4 && c[3] == 0x05 ? Need::kComplete : Need::kInvalid;
      }
      return c.size() == 3 && c[2] >= 5 && c[2] < 0x6A ? Need::kComplete : Need::kInvalid;
    default:
      if (c[0] >= 0x30 && c[0] <= 0x3F) return c.size() == 1 ? Need::kComplete : Need::kInvalid;
      return Need::kInvalid;
  }
}

void FnxFirmware::frameByte(std::uint8_t byte) {
  frame_.push_back(byte);
  std::span<const std::uint8_t> command;
  if (speed_ >= fnx::kLengthByteSpeed) {
    const std::size_t length = frame_[0];
    if (length == 0 || length > kMaxLength) return resetParser();
    if (frame_.size() < length + 2) {
      if (frame_.size() > 1 && parse(std::span(frame_).subspan(1)) == Need::kInvalid) {
        return resetParser();
      }
      return;
    }
    command = std::span(frame_).subspan(1, length);
    if (parse(command) != Need::kComplete) return resetParser();
  } else {
    const Need need = parse(frame_);
    if (need != Need::kInvalid) return;
    command = std::span(frame_).first(frame_.size() - 1);
    if (command.empty() || parse(command) != Need::kComplete) {
      // Not a frame: drop what came and start again with this byte, unless it
      // is one of the raw bytes outside frames.
      resetParser();
      if (parse(std::span(&byte, 1)) != Need::kInvalid) frame_.push_back(byte);
      return;
    }
  }
  const std::uint8_t checksum = frame_.back();
  const auto covered = std::span(frame_).first(frame_.size() - 1);
  const std::vector<std::uint8_t> cmd(command.begin(), command.end());
  std::optional<int> slot;
  for (int seed = 0; seed < slotCount(); ++seed) {
    if (chiphost::rollChecksum(static_cast<std::uint8_t>(seed), covered) == checksum) slot = seed;
  }
  if (onTrace) onTrace({true, false, slot.value_or(-1), frame_, slot.has_value()});
  resetParser();
  if (!slot) return;
  if (beforeFrame) beforeFrame();
  if (faults_.mute) {
    if (*faults_.mute > 0 && --*faults_.mute == 0) faults_.mute.reset();
    return;
  }
  if (faults_.dropCommands > 0) {
    --faults_.dropCommands;
    return;
  }
  execute(*slot, cmd);
}

void FnxFirmware::execute(int slotIndex, std::span<const std::uint8_t> command) {
  Slot& slot = slots_[slotIndex];
  answerSlot_ = slotIndex;
  bool counted = true;
  std::string name;
  auto result = run(slot, command, counted, name);
  // The answer goes out in the old speed and parity; the new ones hold from
  // the next character on.
  struct Switch {
    FnxFirmware& fw;
    ~Switch() {
      if (fw.pendingSpeed_) fw.speed_ = *std::exchange(fw.pendingSpeed_, std::nullopt);
      if (fw.pendingLineParity_) {
        fw.lineParity_ = *std::exchange(fw.pendingLineParity_, std::nullopt);
      }
    }
  } switchAfterAnswer{*this};
  if (name.empty()) return;  // refused: not executed
  ++executions_[name];
  if (counted) ++slot.counter;
  if (!result) return;
  // What "repeat last answer" repeats: the answer of the last counted
  // command, never that of the counter read that asked whether it ran.
  if (counted) slot.lastAnswer = *result;
  if (faults_.dropAnswers > 0) {
    --faults_.dropAnswers;
    return;
  }
  answer(*result);
}

std::optional<std::vector<std::uint8_t>> FnxFirmware::run(Slot& slot,
                                                          std::span<const std::uint8_t> c,
                                                          bool& counted, std::string& name) {
  using Bytes = std::vector<std::uint8_t>;
  const std::uint8_t id = fnx::kIdentificationBytes.at(config_.type);
  switch (c[0]) {
    case 0x00:
      counted = false;
      name = "identify";
      return Bytes{id, config_.firmware};
    case 0x69:
      counted = false;
      name = "identify";
      return Bytes{id, config_.firmware};
    case 0x02:
      counted = false;
      name = "counter";
      return Bytes{static_cast<std::uint8_t>(slot.counter + 0)};
    case 0x03: {
      name = "status";
      std::uint8_t status = 0;
      if (slot.card) status |= 0x40;
      if (slot.changed) status |= 0x80;
      slot.changed = false;
      // The counter moves before the answer is built: the status shows the
      // state, the next counter read shows the execution.
      return Bytes{status};
    }
    case 0x0C: {
      counted = false;
      name = "identity";
      std::uint8_t block[4] = {static_cast<std::uint8_t>(config_.lot),
                               static_cast<std::uint8_t>(config_.lot >> 8),
                               static_cast<std::uint8_t>(config_.serial),
                               static_cast<std::uint8_t>(config_.serial >> 8)};
      chiphost::Cdes4Block(block, fnx::kIdentityKey);
      return Bytes(block, block + 4);
    }
    case 0x6A:
    case 0x6B:
      name = "led";
      return Bytes{};
    case 0x70:
      name = "power-on";
      if (slot.card) slot.card->powerOn();
      return Bytes{static_cast<std::uint8_t>(slot.card ? 0x40 : 0x00)};
    case 0x80:
      name = "power-off";
      if (slot.card) slot.card->powerOff();
      return Bytes{};
    case fnx::kSpeedOp: {
      if (c.size() == fnx::kSpeedTestAnswer - 2) {
        counted = false;
        name = "speed-test";
        Bytes answer(std::begin(fnx::kSpeedTest), std::end(fnx::kSpeedTest));
        answer.push_back(0x55);
        answer.push_back(0xAA);
        return answer;
      }
      if (c[4] == 0x0E) {
        counted = false;
        name = "timing";
        return std::nullopt;
      }
      const auto rate = fnx::speedOfCode(c[1]);
      if (config_.firmware < fnx::kSpeedFrom || c[2] != (c[1] ^ fnx::kSpeedCheck) || !rate) {
        return std::nullopt;
      }
      name = "speed";
      pendingSpeed_ = *rate;
      return Bytes{};
    }
    case fnx::kTransferOp: {
      const std::size_t lead =
          config_.firmware >= fnx::kTransparentLeadFrom && speed_ != 9600 ? 2 : 0;
      if (c.size() == 4 && c[2] == 0x6A) {
        name = "mode";
        const std::uint8_t m = c[1];
        std::optional<std::uint8_t> parity;
        if (m & fnx::kModeParityOdd) parity = 1;
        if (m & fnx::kModeParityEven) parity = 2;
        if (parity && config_.firmware >= fnx::kParityModeFrom) {
          cardParity_ = *parity;
          if (config_.firmware < fnx::kOwnParityFrom) pendingLineParity_ = *parity;
        }
        return Bytes{};
      }
      if (c.size() == 4) {
        name = "reset";
        transfer_ = Transfer{static_cast<int>(&slot - slots_.data()), lead, 0, Bytes{c[2]}};
        if (lead == 0) transparentByte(0);
        return std::nullopt;
      }
      name = "transfer";
      const std::size_t n = c[1] | (std::size_t{static_cast<std::uint8_t>(c[2] - 5)} << 8);
      transfer_ = Transfer{static_cast<int>(&slot - slots_.data()), lead, n, {}};
      return std::nullopt;
    }
    default:
      counted = false;
      name = "repeat";
      const std::size_t n = (c[0] & 0x0F) + 1u;
      Bytes answer(n, 0);
      const auto& last = slot.lastAnswer;
      const std::size_t have = std::min(n, last.size());
      std::copy(last.end() - have, last.end(), answer.end() - have);
      return answer;
  }
}

void FnxFirmware::answer(std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t> out(bytes.begin(), bytes.end());
  std::uint8_t checksum = chiphost::rollChecksum(fnx::kAnswerSeed, bytes);
  if (faults_.garble > 0) {
    --faults_.garble;
    checksum ^= 0x5A;
  }
  out.push_back(checksum);
  if (onTrace) onTrace({false, false, answerSlot_, out, true});
  send_(out);
}

void FnxFirmware::transparentByte(std::uint8_t byte) {
  Transfer& t = *transfer_;
  const bool isReset = t.remaining == 0 && t.bytes.size() == 1 &&
                       (t.bytes[0] == fnx::kResetVariant1 || t.bytes[0] == fnx::kResetVariant0);
  if (t.lead > 0) {
    const std::uint8_t expected = fnx::kTransparentLead[2 - t.lead];
    if (byte != expected) {
      transfer_.reset();
      return;
    }
    if (--t.lead > 0 || (!isReset && t.remaining > 0)) return;
  } else if (!isReset) {
    t.bytes.push_back(byte);
    if (--t.remaining > 0) return;
  }
  const Transfer done = std::move(t);
  transfer_.reset();
  Slot& slot = slots_[done.slot];
  if (!slot.card) return;
  std::vector<std::uint8_t> reply;
  if (isReset) {
    reply = slot.card->powered() ? slot.card->reset() : slot.card->powerOn();
  } else if (!slot.card->powered()) {
    return;
  } else if (!done.bytes.empty() && done.bytes[0] == 0xFF && !slot.card->specificMode()) {
    reply = slot.card->pts(done.bytes);
  } else if (slot.card->protocol() == CardProtocol::kT1) {
    reply = slot.card->t1(done.bytes);
  } else {
    reply = slot.card->t0(done.bytes);
  }
  if (onTrace) onTrace({true, true, done.slot, done.bytes, true});
  if (reply.empty()) return;
  if (onTrace) onTrace({false, true, done.slot, reply, true});
  send_(reply);
}

}  // namespace k52::sim

#include "chiphost/readers/device_fnx.h"

#include <array>
#include <utility>

#include "chiphost/core/cdes.h"
#include "chiphost/core/excpt.h"
#include "chiphost/readers/driver_channel.h"
#include "chiphost/readers/fnx_protocol.h"
#include "platform/win32/comm/comm.h"

namespace k52::chiphost {

namespace {

// Win32 parity coding of the port.
constexpr std::uint8_t kNoParity = 0;
constexpr std::uint8_t kOddParity = 1;
constexpr std::uint8_t kEvenParity = 2;
constexpr std::uint8_t kTwoStopBits = 2;

// The settings of types 3, 1 and 6 are tried in this order.
constexpr int kSearchSettings[] = {3, 1, 6};
constexpr std::int32_t kSpeedLadder[] = {115200, 57600, 38400, 19200};
// One step down from each speed when an error burst lowers the maximum.
constexpr std::int32_t lowerStep(std::int32_t speed) {
  if (speed > 57600) return 57600;
  if (speed > 38400) return 38400;
  if (speed > 19200) return 19200;
  return 9600;
}
constexpr std::int32_t kLedSpeeds[] = {1200,  2400,  4800,  9600,  14400,
                                       19200, 28800, 38400, 57600, 115200};

// Restores the search flag and the attach counter on every way out.
class AttachScope {
 public:
  AttachScope(TComPort& port, ReaderHost& host) : port_(port), host_(host) {
    host_.attachStarted();
    port_.setSearchFlag(true);
  }
  ~AttachScope() {
    port_.setSearchFlag(false);
    host_.attachEnded();
  }

 private:
  TComPort& port_;
  ReaderHost& host_;
};

}  // namespace

TDeviceFNX::TDeviceFNX(TComPort& port, ProtocolParams& params, ReaderHost& host)
    : port_(port), params_(params), host_(host) {}

TDeviceFNX::~TDeviceFNX() {
  if (!attached_) return;
  try {
    SetLed(0);
    BackTo9600(true);
    if (cachedPresence_) PowerOff();
  } catch (const Excpt&) {
    // The reader may be gone; nothing is left to undo.
  }
}

[[noreturn]] void TDeviceFNX::raiseFailed() {
  failed_ = true;
  throw Excpt("1008");
}

std::uint32_t TDeviceFNX::elapsedSince(std::uint32_t start) const {
  return win32::GetTickCount() - start;
}

std::uint8_t TDeviceFNX::convert(std::uint8_t byte) const {
  if (params_.convention != 1) return byte;
  // Inverse convention: the bits come in the other order and inverted.
  std::uint8_t out = 0;
  for (int i = 0; i < 8; ++i) {
    if (!(byte & (1 << i))) out |= static_cast<std::uint8_t>(0x80 >> i);
  }
  return out;
}

void TDeviceFNX::frameFailed() {
  ++badFrames_;
  if (++consecutiveErrors_ < 3) return;
  consecutiveErrors_ = 0;
  if (++errorBursts_ >= 3) {
    failed_ = true;
    return;
  }
  BackTo9600(true);
  if (errorBursts_ >= 2) verifiedMax_ = lowerStep(verifiedMax_);
}

bool TDeviceFNX::ExchangeFrame(std::span<const std::uint8_t> command, unsigned answerCount,
                               std::uint32_t timeoutMs, bool expectAnswer,
                               std::vector<std::uint8_t>* answer) {
  host_.idle(false);
  if (failed_ || command.empty()) return false;
  // A command ending in 0xFF answers nothing and the 0xFF is not sent.
  if (command.back() == 0xFF) command = command.first(command.size() - 1);
  port_.Purge();
  port_.BeginBuffer();
  port_.rollingChecksum() = static_cast<std::uint8_t>(slot_);
  host_.transferStarted();
  bool ok = true;
  if (currentSpeed_ >= fnx::kLengthByteSpeed) {
    ok = port_.WriteByte(static_cast<std::uint8_t>(command.size()));
  }
  for (std::uint8_t b : command) ok = ok && port_.WriteByte(b);
  ok = ok && port_.WriteByte(port_.rollingChecksum());
  if (expectAnswer) {
    ok = port_.FlushBuffer() && ok;
    std::vector<std::uint8_t> got;
    std::uint8_t b = 0;
    while (ok && got.size() < answerCount) {
      ok = port_.ReadByte(b, timeoutMs);
      if (ok) got.push_back(b);
    }
    if (ok) {
      const std::uint8_t expected = port_.rollingChecksum();
      ok = port_.ReadByte(b, timeoutMs) && b == expected;
    }
    if (ok && answer) *answer = std::move(got);
  }
  if (ok) {
    consecutiveErrors_ = 0;
    errorBursts_ = 0;
    ++goodFrames_;
  } else {
    frameFailed();
  }
  return ok;
}

bool TDeviceFNX::Command(std::span<const std::uint8_t> command, unsigned answerCount,
                         std::uint32_t timeoutMs, std::vector<std::uint8_t>* answer) {
  if (failed_) throw Excpt("1008");
  const std::uint32_t start = win32::GetTickCount();
  bool ok = false;
  // A reader declared failed inside the window ends it at once.
  while (!ok && !failed_ && elapsedSince(start) < kRetryWindowMs) {
    ok = ExchangeFrame(command, answerCount, timeoutMs, true, answer);
  }
  failed_ = !ok;
  return ok;
}

void TDeviceFNX::SyncSequence() {
  auto& channel = DriverChannel::instance();
  if (port_.driverFlag() && channel.generation() != seenGeneration_) {
    seenGeneration_ = channel.generation();
    if (currentSpeed_ > 9600) {
      const std::uint8_t attention = fnx::kAttention;
      port_.SendRaw({&attention, 1});
    }
    sequenceKnown_ = false;
  }
  if (sequenceKnown_) return;
  forceStatus_ = true;
  std::vector<std::uint8_t> counter;
  if (!Command(fnx::kReadCounter, 1, kFrameTimeoutMs, &counter)) raiseFailed();
  hostCounter_ = counter[0];
  sequenceKnown_ = true;
}

std::optional<std::uint8_t> TDeviceFNX::readCounterWithin(std::uint32_t start,
                                                          std::uint32_t windowMs,
                                                          std::uint32_t timeoutMs) {
  std::vector<std::uint8_t> counter;
  while (!failed_ && elapsedSince(start) < windowMs) {
    if (ExchangeFrame(fnx::kReadCounter, 1, timeoutMs, true, &counter)) return counter[0];
  }
  return std::nullopt;
}

std::vector<std::uint8_t> TDeviceFNX::SequencedCommand(std::span<const std::uint8_t> command,
                                                       std::uint32_t timeoutMs) {
  if (failed_) throw Excpt("1008");
  if (timeoutMs < 1) timeoutMs = 1;
  port_.Purge();
  SyncSequence();
  const unsigned n = fnx::answerLength(command.back());
  const std::uint32_t start = win32::GetTickCount();
  std::vector<std::uint8_t> answer;
  bool ok = false;
  while (!ok && !failed_ && elapsedSince(start) < kRetryWindowMs) {
    if (ExchangeFrame(command, n, timeoutMs, true, &answer)) {
      ok = true;
      break;
    }
    const auto readerCounter = readCounterWithin(start, kRetryWindowMs, timeoutMs);
    if (!readerCounter) break;
    if (*readerCounter == hostCounter_) continue;  // the command was lost: send it again
    // Executed, only the answer was lost.
    const std::uint8_t repeat[] = {static_cast<std::uint8_t>(0x30 + (n - 1))};
    if (n == 0) {
      answer.clear();
      ok = true;
    }
    while (!ok && !failed_ && elapsedSince(start) < kRetryWindowMs) {
      ok = ExchangeFrame(repeat, n, timeoutMs, true, &answer);
    }
    hostCounter_ = static_cast<std::uint8_t>(*readerCounter - 1);
    break;
  }
  if (!ok) raiseFailed();
  ++hostCounter_;
  sequenceKnown_ = true;
  return answer;
}

void TDeviceFNX::BackTo9600(bool pulse) {
  if (pulse) port_.ResetPulse();
  currentSpeed_ = 9600;
  port_.SetBaudrate(9600);
}

void TDeviceFNX::applyLineSettings(int type) {
  port_.SetDtr(true);
  std::uint8_t parity = kEvenParity;
  if (type == 3) {
    port_.SetRts(true);
    parity = kNoParity;
  } else if (type >= 6 && type <= 8) {
    port_.SetRts(false);
  } else {
    port_.SetRts(true);
  }
  port_.SetLineParams(port_.baudRate(), kTwoStopBits, parity);
}

void TDeviceFNX::Attach(int portWord, int slot, int mode) {
  if (mode == 3 || mode == 4) return recheck(mode);
  portWord_ = portWord;
  slot_ = slot & 0x0F;
  search(mode);
}

void TDeviceFNX::recheck(int mode) {
  if (mode == 4) {
    if (identity_.version >= fnx::kOwnParityFrom && port_.GetDsrLine()) throw Excpt("1008");
    return;
  }
  if (identity_.version < fnx::kSpeedFrom && type_ != 9) {
    std::vector<std::uint8_t> id;
    if (!Command(fnx::kOldIdentify, 2, kFrameTimeoutMs, &id) ||
        id[0] != readerType(type_).identification || id[1] != identity_.version) {
      throw Excpt("1008");
    }
    return;
  }
  std::vector<std::uint8_t> block;
  if (!Command(fnx::kReadIdentity, 4, kFrameTimeoutMs, &block)) throw Excpt("1008");
  Cdes4Block(std::span<std::uint8_t, 4>(block.data(), 4), fnx::kIdentityKey);
  if ((block[0] | block[1] << 8) != identity_.lotNr ||
      (block[2] | block[3] << 8) != identity_.serial) {
    throw Excpt("1008");
  }
}

bool TDeviceFNX::identifyWith(int setting, int attempts, int mode) {
  applyLineSettings(setting);
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    if (mode == 2) {
      host_.notifyAll(301,
                      static_cast<std::uint16_t>((attempt * 5) << 8 | (port_.portNumber() & 0xFF)));
    }
    failed_ = false;
    consecutiveErrors_ = errorBursts_ = 0;
    goodFrames_ = badFrames_ = 0;
    std::vector<std::uint8_t> answer;
    if (ExchangeFrame(fnx::kIdentify, 2, kFrameTimeoutMs, true, &answer)) {
      const auto type = typeOfIdentification(answer[0]);
      if (type) {
        type_ = *type;
        identity_.version = answer[1];
        return true;
      }
    }
    if (attempt == kPulseAtAttempt) port_.ResetPulse();
  }
  return false;
}

void TDeviceFNX::twinDecision(std::uint8_t id) {
  if (id != 0x88) return;
  if (slot_ == 1) {
    type_ = 8;
    return;
  }
  if (slot_ != 0) return;
  slot_ = 1;
  std::vector<std::uint8_t> answer;
  bool twin = false;
  for (int i = 0; i < kTwinIdentifyTries && !twin; ++i) {
    twin = ExchangeFrame(fnx::kIdentify, 2, kFrameTimeoutMs, true, &answer);
  }
  slot_ = 0;
  // The silent slot address costs no error burst of the slot that answers.
  consecutiveErrors_ = errorBursts_ = 0;
  if (twin) type_ = 7;
}

void TDeviceFNX::search(int mode) {
  AttachScope scope(port_, host_);
  identity_ = DeviceIdentity{};
  port_.SetStopBits(kTwoStopBits);
  port_.SetDsrFlow(false);
  BackTo9600(false);
  verifiedMax_ = 9600;
  port_.SetPortNumber(static_cast<std::int16_t>(portWord_ & 0x0F));
  // The other slot of a twin runs the reader at the speed it verified; the
  // reader is one for both slots, so this slot starts from that speed, not
  // from a 9600 the reader is no longer at (there is no pulse on a shared
  // port).
  if (const auto shared = port_.sharedBaudRate()) {
    port_.SetBaudrate(*shared);
    currentSpeed_ = verifiedMax_ = *shared;
  }
  attached_ = false;
  port_.SetDtr(true);
  port_.SetRts(true);
  bool found = false;
  if (port_.SharedCount() < 2) {
    port_.ResetPulse();
    for (int i = 0; i < 3 && !found; ++i) {
      const int setting = kSearchSettings[i];
      found = identifyWith(setting, i == 0 && mode != 0 ? kSearchAttempts : 1, mode);
    }
  } else {
    found = identifyWith(6, 1, mode);
  }
  if (!found) {
    port_.SetDtr(true);
    port_.SetRts(true);
    throw Excpt("1008");
  }
  const std::uint8_t id = readerType(type_).identification;
  applyLineSettings(type_);
  sequenceKnown_ = false;
  forceStatus_ = true;
  CardPresent();
  SetLed(0);
  SetCharParity(2);
  twinDecision(id);
  if (identity_.version >= fnx::kSpeedFrom) {
    std::vector<std::uint8_t> block;
    if (!Command(fnx::kReadIdentity, 4, kFrameTimeoutMs, &block)) throw Excpt("1008");
    Cdes4Block(std::span<std::uint8_t, 4>(block.data(), 4), fnx::kIdentityKey);
    identity_.lotNr = static_cast<std::uint16_t>(block[0] | block[1] << 8);
    identity_.serial = static_cast<std::uint16_t>(block[2] | block[3] << 8);
    for (std::int32_t speed : kSpeedLadder) {
      if (SetSpeed(speed)) break;
    }
  }
  identity_.setMaxBaudrate(verifiedMax_);
  goodFrames_ = badFrames_ = 0;
  consecutiveErrors_ = errorBursts_ = 0;
  attached_ = true;
}

bool TDeviceFNX::SetSpeed(std::int32_t speed) {
  if (speed == currentSpeed_) return true;
  if (identity_.version < fnx::kSpeedFrom) return false;
  const fnx::SpeedCode code = fnx::speedCodeFor(speed);
  const std::uint8_t command[] = {
      fnx::kSpeedOp, code.d, static_cast<std::uint8_t>(code.d ^ fnx::kSpeedCheck), code.t, 0x08};
  SequencedCommand(command);
  port_.SetBaudrate(speed);
  currentSpeed_ = speed;
  port_.WaitMs(kSpeedSettleMs);
  if (speed > verifiedMax_) {
    for (int i = 0; i < kSpeedTests; ++i) {
      if (!ExchangeFrame(fnx::kSpeedTest, fnx::kSpeedTestAnswer, kFrameTimeoutMs, true)) {
        BackTo9600(true);
        return false;
      }
    }
  }
  verifiedMax_ = speed;
  return true;
}

void TDeviceFNX::SetLed(int code) {
  if (code >= 13 && code <= 22) {
    SetSpeed(kLedSpeeds[code - 13]);
    return;
  }
  if (type_ == 3) {
    SequencedCommand(code == 0 ? std::span(fnx::kLedOff) : std::span(fnx::kLedOn));
  } else {
    // No parity bit: the reader keeps the parity it has (an inverse card's
    // odd parity survives every LED step).
    const std::uint8_t command[] = {fnx::kTransferOp, static_cast<std::uint8_t>(code), 0x6A, 0x0F};
    SequencedCommand(command);
  }
  ledCode_ = code;
}

void TDeviceFNX::SetCharParity(int parity) {
  if (type_ == 3) return;
  if (identity_.version >= fnx::kParityModeFrom) {
    const std::uint8_t bit = parity == 1 ? fnx::kModeParityOdd : fnx::kModeParityEven;
    const std::uint8_t command[] = {fnx::kTransferOp, static_cast<std::uint8_t>(ledCode_ + bit),
                                    0x6A, 0x0F};
    SequencedCommand(command);
  }
  if (identity_.version < fnx::kOwnParityFrom) {
    port_.SetParity(parity == 1 ? kOddParity : kEvenParity);
  }
}

bool TDeviceFNX::CardPresent() {
  if (identity_.version >= fnx::kSpeedFrom && !forceStatus_) {
    const int waiting = port_.InputCount();
    if (waiting <= 0 && (port_.errorMask() & kBreakBit) == 0) return cachedPresence_;
  }
  port_.clearErrorBits(kBreakBit);
  const auto status = SequencedCommand(fnx::kReadStatus);
  cachedPresence_ = status[0] & 0x40;
  if (status[0] & 0x80) changedLatch_ = true;
  host_.clearPollRequest();
  forceStatus_ = false;
  return cachedPresence_;
}

bool TDeviceFNX::CardChanged() {
  return std::exchange(changedLatch_, false);
}

void TDeviceFNX::PowerOn() {
  sequenceKnown_ = false;
  SequencedCommand(fnx::kPowerOn);
}

void TDeviceFNX::PowerOff() {
  sequenceKnown_ = false;
  SequencedCommand(fnx::kPowerOff);
}

bool TDeviceFNX::ResetCard(bool variant, std::uint8_t& first, std::uint32_t timeoutMs) {
  if (failed_) throw Excpt("1008");
  SyncSequence();
  host_.transferStarted();
  transparentUsed_ = true;
  const std::uint8_t command[] = {fnx::kTransferOp, 0x00,
                                  variant ? fnx::kResetVariant1 : fnx::kResetVariant0, 0x05};
  ExchangeFrame(command, 0, timeoutMs, false);
  if (identity_.version >= fnx::kTransparentLeadFrom && currentSpeed_ != 9600) {
    for (std::uint8_t b : fnx::kTransparentLead) port_.WriteByte(b);
  }
  port_.FlushBuffer();
  const bool ok = port_.ReadByte(first, timeoutMs);
  // The reset is a counted command; without its answer nobody knows whether
  // it ran, so the counter is read again before the next command.
  if (ok) {
    ++hostCounter_;
  } else {
    sequenceKnown_ = false;
  }
  return ok;
}

bool TDeviceFNX::ReceiveByte(std::uint8_t& byte, std::uint32_t timeoutMs) {
  if (!port_.ReadByte(byte, timeoutMs)) return false;
  byte = convert(byte);
  return true;
}

bool TDeviceFNX::Transmit(std::size_t m, bool end, std::uint32_t g, std::uint32_t f,
                          std::vector<std::uint8_t>& answer, std::span<const std::uint8_t> bytes) {
  if (failed_) throw Excpt("1008");
  SyncSequence();
  host_.transferStarted();
  const std::size_t n = bytes.size();
  const std::uint8_t header[] = {fnx::kTransferOp, static_cast<std::uint8_t>(n & 0xFF),
                                 static_cast<std::uint8_t>((n >> 8) + 5)};
  const std::uint32_t window = f + kRetryWindowMs;
  const std::uint32_t start = win32::GetTickCount();
  bool complete = false;
  while (!failed_ && elapsedSince(start) < window) {
    transparentUsed_ = true;
    ExchangeFrame(header, 0, f, false);
    if (identity_.version >= fnx::kTransparentLeadFrom && currentSpeed_ != 9600) {
      for (std::uint8_t b : fnx::kTransparentLead) port_.WriteByte(b);
    }
    for (std::uint8_t b : bytes) port_.WriteByte(convert(b));
    port_.FlushBuffer();
    answer.clear();
    std::uint8_t b = 0;
    while (answer.size() < m && port_.ReadByte(b, answer.empty() ? f : g)) {
      answer.push_back(convert(b));
    }
    if (answer.size() == m) {
      complete = true;
      ++hostCounter_;
      break;
    }
    EndTransfer();
    const auto readerCounter = readCounterWithin(start, window, kFrameTimeoutMs);
    if (!readerCounter) raiseFailed();
    if (*readerCounter != hostCounter_) {
      // Done by the reader; only (part of) the card's answer is missing.
      hostCounter_ = *readerCounter;
      break;
    }
  }
  if (end) EndTransfer();
  return complete;
}

void TDeviceFNX::EndTransfer() {
  if (currentSpeed_ == 9600 || !transparentUsed_) return;
  transparentUsed_ = false;
  const std::uint8_t end =
      port_.parity() == kEvenParity ? fnx::kEndTransferEven : fnx::kEndTransferOther;
  port_.SendRaw({&end, 1});
}

}  // namespace k52::chiphost

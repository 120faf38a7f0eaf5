#include "sim/kbd8042/terminal_wire.h"

#include <algorithm>
#include <utility>

#include "sim/kbd8042/answer_frame.h"
#include "sim/kbd8042/keyboard.h"

namespace k52::sim {

TerminalWire::TerminalWire(Timeline& timeline, TerminalFirmware& firmware,
                           std::function<void(std::uint8_t)> toController,
                           TerminalWireConfig config)
    : timeline_(timeline),
      firmware_(firmware),
      toController_(std::move(toController)),
      config_(config) {
  firmware_.connectLateAnswers(
      [this](std::vector<std::uint8_t> answer) { queueAnswer(std::move(answer)); });
}

TerminalWire::~TerminalWire() {
  firmware_.connectLateAnswers({});
}

void TerminalWire::receive(std::uint8_t nibbleCode) {
  const Duration now = timeline_.now();
  if (characterWaitingTime_ > Duration::zero() && assembler_.nibblesPending() > 0 &&
      now - lastNibbleAt_ > characterWaitingTime_) {
    assembler_.reset();
  }
  lastNibbleAt_ = now;
  if (auto command = assembler_.feed(nibbleCode)) execute(*command);
}

void TerminalWire::truncateNextFrame(std::size_t nibbles) {
  truncateAfter_ = nibbles;
}

void TerminalWire::injectKeystrokeInNextFrame(std::uint8_t makeCode, std::size_t nibbles) {
  keystroke_ = Keystroke{makeCode, nibbles};
}

void TerminalWire::floodNextFrame(std::size_t answerBytes) {
  floodBytes_ = std::min(answerBytes, kMaxAnswerBytes);
}

void TerminalWire::execute(const std::vector<std::uint8_t>& command) {
  if (pendingAnswers_ >= config_.maxPendingAnswers) {
    ++refusedCommands_;
    return;
  }
  queueAnswer(firmware_.execute(command));
}

void TerminalWire::queueAnswer(std::vector<std::uint8_t> answer) {
  if (answer.empty() && !floodBytes_) return;
  ++pendingAnswers_;
  timeline_.schedule(
      config_.processingDelay,
      [this, codes = buildFrame(std::move(answer))]() mutable { startFrame(std::move(codes)); });
}

std::vector<std::uint8_t> TerminalWire::buildFrame(std::vector<std::uint8_t> answer) {
  if (floodBytes_) {
    // Filler counts on from the real answer so a host that mixes up bytes
    // shows it.
    const std::size_t real = std::min(answer.size(), *floodBytes_);
    answer.resize(*floodBytes_);
    for (std::size_t i = real; i < answer.size(); ++i) answer[i] = static_cast<std::uint8_t>(i);
    floodBytes_.reset();
  }
  // A firmware answer longer than the length field can say is cut, so the
  // frame never lies about its length.
  if (answer.size() > kMaxAnswerBytes) answer.resize(kMaxAnswerBytes);
  std::vector<std::uint8_t> codes = encodeAnswerFrame(answer, config_.frameMarker);
  if (truncateAfter_) {
    codes.resize(std::min(codes.size(), kFrameHeaderCodes + *truncateAfter_));
    truncateAfter_.reset();
  }
  if (keystroke_) {
    const std::size_t at = std::min(codes.size(), kFrameHeaderCodes + keystroke_->afterNibbles);
    const std::uint8_t make = keystroke_->makeCode;
    const std::uint8_t stroke[] = {make, static_cast<std::uint8_t>(make | Keyboard::kBreakBit)};
    codes.insert(codes.begin() + static_cast<std::ptrdiff_t>(at), std::begin(stroke),
                 std::end(stroke));
    keystroke_.reset();
  }
  return codes;
}

void TerminalWire::startFrame(std::vector<std::uint8_t> codes) {
  frames_.push_back(std::move(codes));
  if (frames_.size() == 1) sendNextCode();
}

void TerminalWire::sendNextCode() {
  std::vector<std::uint8_t>& front = frames_.front();
  toController_(front[sentOfFront_++]);
  if (sentOfFront_ == front.size()) {
    frames_.pop_front();
    sentOfFront_ = 0;
    --pendingAnswers_;
  }
  if (!frames_.empty()) timeline_.schedule(config_.codeInterval, [this] { sendNextCode(); });
}

}  // namespace k52::sim

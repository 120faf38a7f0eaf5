#include "platform/win32/comm/simulated_comm_line.h"

#include <algorithm>

#include "platform/win32/comm/comm.h"

namespace k52::win32 {

using namespace std::chrono_literals;

unsigned LineFrame::bitsPerCharacter() const {
  const unsigned parityBits = parity == NOPARITY ? 0 : 1;
  const unsigned stop = stopBits == ONESTOPBIT ? 1 : 2;
  return 1 + dataBits + parityBits + stop;
}

Duration LineFrame::characterTime() const {
  const std::uint32_t baud = baudRate == 0 ? 1 : baudRate;
  return Duration(std::chrono::seconds(bitsPerCharacter())) / baud;
}

SimulatedCommLine::SimulatedCommLine(Clock& clock) : clock_(clock) {}

Duration SimulatedCommLine::nextCharacterSlot(Duration& wireFree) {
  wireFree = std::max(wireFree, now()) + frame_.characterTime();
  return wireFree;
}

void SimulatedCommLine::post(Duration due, Event event) {
  events_.emplace(std::make_pair(due, sequence_++), std::move(event));
}

void SimulatedCommLine::send(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t byte : bytes) sendFlagged(byte, 0);
}

void SimulatedCommLine::sendFlagged(std::uint8_t byte, std::uint32_t errors) {
  if (!plugged_) return;
  post(nextCharacterSlot(toHostFree_), {[this, byte, errors] {
                                          input_.push_back({byte, errors});
                                        },
                                        Event::Kind::kToHost});
}

void SimulatedCommLine::sendBreak(Duration length) {
  if (!plugged_) return;
  toHostFree_ = std::max(toHostFree_, now()) + length;
  post(toHostFree_, {[this] { errors_ |= CE_BREAK; }, Event::Kind::kToHost});
}

void SimulatedCommLine::schedule(Duration due, std::function<void()> action) {
  post(due, {std::move(action), Event::Kind::kTimer});
}

void SimulatedCommLine::unplug() {
  plugged_ = false;
  std::erase_if(events_,
                [](const auto& entry) { return entry.second.kind != Event::Kind::kTimer; });
}

void SimulatedCommLine::run() {
  const Duration now = clock_.now();
  while (!events_.empty() && events_.begin()->first.first <= now) {
    auto node = events_.extract(events_.begin());
    eventTime_ = node.key().first;
    node.mapped().action();
    eventTime_.reset();
  }
}

std::optional<Duration> SimulatedCommLine::nextDue() const {
  if (events_.empty()) return std::nullopt;
  return events_.begin()->first.first;
}

bool SimulatedCommLine::configure(const LineFrame& frame) {
  run();
  if (frame.baudRate == 0 || frame.dataBits < 5 || frame.dataBits > 8 ||
      frame.parity > SPACEPARITY || frame.stopBits > TWOSTOPBITS) {
    return false;
  }
  frame_ = frame;
  return true;
}

void SimulatedCommLine::setOutputs(const ModemOutputs& outputs) {
  run();
  const bool changed = outputs.dtr != outputs_.dtr || outputs.rts != outputs_.rts ||
                       outputs.breakOn != outputs_.breakOn;
  outputs_ = outputs;
  if (changed && plugged_ && device_) device_->outputsChanged(outputs_);
}

std::uint32_t SimulatedCommLine::modemStatus() {
  run();
  return plugged_ ? inputs_ : 0;
}

std::size_t SimulatedCommLine::write(std::span<const std::uint8_t> bytes) {
  run();
  if (!plugged_) return 0;
  for (std::uint8_t byte : bytes) {
    const LineFrame sentWith = frame_;
    post(nextCharacterSlot(toDeviceFree_), {[this, byte, sentWith] {
                                              if (device_ && plugged_)
                                                device_->receive(byte, sentWith);
                                            },
                                            Event::Kind::kToDevice});
  }
  return bytes.size();
}

std::size_t SimulatedCommLine::read(std::span<std::uint8_t> buffer) {
  run();
  std::size_t count = 0;
  while (count < buffer.size() && !input_.empty()) {
    buffer[count++] = input_.front().byte;
    errors_ |= input_.front().errors;
    input_.pop_front();
    // A flagged byte ends the read so that the caller sees its error with it.
    if (errors_ & (CE_RXPARITY | CE_FRAME)) break;
  }
  return count;
}

std::size_t SimulatedCommLine::inputCount() {
  run();
  return input_.size();
}

std::size_t SimulatedCommLine::outputCount() {
  run();
  return static_cast<std::size_t>(std::count_if(events_.begin(), events_.end(), [](const auto& e) {
    return e.second.kind == Event::Kind::kToDevice;
  }));
}

std::uint32_t SimulatedCommLine::takeErrors() {
  run();
  return std::exchange(errors_, 0);
}

void SimulatedCommLine::purgeInput() {
  run();
  input_.clear();
}

void SimulatedCommLine::purgeOutput() {
  run();
  std::erase_if(events_,
                [](const auto& entry) { return entry.second.kind == Event::Kind::kToDevice; });
  toDeviceFree_ = clock_.now();
}

bool SimulatedCommLine::waitForInput(Duration wait) {
  run();
  if (!input_.empty()) return true;
  if (wait <= Duration::zero()) return false;
  const Duration now = clock_.now();
  Duration step = wait;
  if (dynamic_cast<VirtualClock*>(&clock_) != nullptr) step = std::min<Duration>(step, 1ms);
  if (const auto due = nextDue())
    step = std::min(step, std::max<Duration>(*due - now, Duration(1)));
  clock_.sleepFor(step);
  run();
  return !input_.empty();
}

}  // namespace k52::win32

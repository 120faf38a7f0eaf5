#include "platform/nt/serial/serial_line.h"

namespace k52::nt::serial {

namespace {

// The bits of one character, in half bits for 1.5 stop bits.
std::uint64_t halfBits(const LineSettings& s) {
  const unsigned stopHalves = s.stopBits == STOP_BIT_1 ? 2 : s.stopBits == STOP_BITS_1_5 ? 3 : 4;
  return 2 * (1 + s.dataBits + (s.parity == NO_PARITY ? 0 : 1)) + stopHalves;
}

constexpr std::uint64_t kNsPerSecond = 1'000'000'000;

}  // namespace

Duration LineSettings::timeFor(std::uint64_t count) const {
  if (baudRate == 0) return Duration::zero();
  __extension__ using Wide = unsigned __int128;  // a long write at a low rate overflows 64 bits
  return std::chrono::nanoseconds(static_cast<std::int64_t>(Wide{count} * halfBits(*this) *
                                                            kNsPerSecond / (Wide{2} * baudRate)));
}

std::uint64_t LineSettings::charactersIn(Duration elapsed) const {
  if (elapsed <= Duration::zero()) return 0;
  __extension__ using Wide = unsigned __int128;
  const auto ns = static_cast<std::uint64_t>(elapsed.count());
  return static_cast<std::uint64_t>(Wide{ns} * 2 * baudRate /
                                    (Wide{halfBits(*this)} * kNsPerSecond));
}

void ReceiverSlot::set(SerialLine::Receiver receiver) {
  std::lock_guard lock(mutex_);
  receiver_ = std::move(receiver);
}

void ReceiverSlot::clear() {
  std::lock_guard lock(mutex_);
  receiver_ = nullptr;
}

void ReceiverSlot::deliver(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  if (receiver_) receiver_(bytes);
}

}  // namespace k52::nt::serial

#include "sim/kbd8042/pic.h"

#include <utility>

namespace k52::sim {

std::uint8_t Pic::readPort(std::uint16_t port) const {
  return port == kMaskPort ? mask_ : 0xFF;
}

void Pic::writePort(std::uint16_t port, std::uint8_t value) {
  if (port != kMaskPort) return;
  mask_ = value;
  scheduleDelivery();
}

void Pic::connect(int line, std::function<void()> handler) {
  if (line < 0 || line >= kLines) return;
  handlers_[line] = std::move(handler);
}

void Pic::raise(int line) {
  if (line < 0 || line >= kLines) return;
  requests_ |= static_cast<std::uint8_t>(1u << line);
  scheduleDelivery();
}

void Pic::scheduleDelivery() {
  if (deliveryScheduled_ || (requests_ & ~mask_) == 0) return;
  deliveryScheduled_ = true;
  timeline_.schedule(Duration::zero(), [this] { deliver(); });
}

void Pic::deliver() {
  deliveryScheduled_ = false;
  for (int line = 0; line < kLines; ++line) {
    const auto bit = static_cast<std::uint8_t>(1u << line);
    // The mask is checked per line because an earlier handler may change it.
    if ((requests_ & bit) == 0 || (mask_ & bit) != 0) continue;
    requests_ &= static_cast<std::uint8_t>(~bit);
    if (handlers_[line]) handlers_[line]();
  }
}

}  // namespace k52::sim

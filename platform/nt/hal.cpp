#include "platform/nt/hal.h"

#include <stdexcept>

#include "platform/nt/kernel.h"

namespace k52::nt {

namespace {

constexpr std::uint32_t kPortSpace = 0x10000;

}  // namespace

void IoBus::map(std::uint16_t firstPort, std::uint32_t count, PortDevice& device) {
  const std::uint32_t end = std::uint32_t{firstPort} + count;
  if (count == 0 || end > kPortSpace) throw std::invalid_argument("port range out of I/O space");
  std::lock_guard lock(mutex_);
  for (const auto& [first, range] : ranges_) {
    if (first < end && firstPort < range.end) {
      throw std::invalid_argument("port range overlaps a mapped range");
    }
  }
  ranges_[firstPort] = Range{end, &device};
}

bool IoBus::unmap(std::uint16_t firstPort) {
  std::lock_guard lock(mutex_);
  return ranges_.erase(firstPort) != 0;
}

PortDevice* IoBus::deviceAt(std::uint16_t port) const {
  auto it = ranges_.upper_bound(port);
  if (it == ranges_.begin()) return nullptr;
  --it;
  return port < it->second.end ? it->second.device : nullptr;
}

std::uint8_t IoBus::read(std::uint16_t port) {
  // Recursive: a device model may look at another port of the bus.
  std::lock_guard lock(mutex_);
  PortDevice* device = deviceAt(port);
  return device ? device->readPort(port) : 0xFF;
}

void IoBus::write(std::uint16_t port, std::uint8_t value) {
  std::lock_guard lock(mutex_);
  if (PortDevice* device = deviceAt(port)) device->writePort(port, value);
}

void IoBus::failTranslation(std::uint16_t port, bool fail) {
  std::lock_guard lock(mutex_);
  if (fail) {
    refused_.insert(port);
  } else {
    refused_.erase(port);
  }
}

bool IoBus::translationFails(std::uint16_t port) const {
  std::lock_guard lock(mutex_);
  return refused_.count(port) != 0;
}

BOOLEAN HalTranslateBusAddress(INTERFACE_TYPE, ULONG, PHYSICAL_ADDRESS BusAddress,
                               PULONG AddressSpace, PPHYSICAL_ADDRESS TranslatedAddress) {
  if (AddressSpace == nullptr || TranslatedAddress == nullptr || *AddressSpace != 1) return FALSE;
  const LONGLONG port = BusAddress.QuadPart;
  if (port < 0 || port >= kPortSpace) return FALSE;
  if (Kernel::current().bus().translationFails(static_cast<std::uint16_t>(port))) return FALSE;
  TranslatedAddress->QuadPart = port;
  return TRUE;
}

UCHAR READ_PORT_UCHAR(PUCHAR Port) {
  const auto port = reinterpret_cast<std::uintptr_t>(Port);
  if (port >= kPortSpace) return 0xFF;
  return Kernel::current().bus().read(static_cast<std::uint16_t>(port));
}

void WRITE_PORT_UCHAR(PUCHAR Port, UCHAR Value) {
  const auto port = reinterpret_cast<std::uintptr_t>(Port);
  if (port >= kPortSpace) return;
  Kernel::current().bus().write(static_cast<std::uint16_t>(port), Value);
}

}  // namespace k52::nt

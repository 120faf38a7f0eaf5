// HAL: bus address translation and port I/O, routed to the simulated I/O
// bus of the current Kernel, on which device models map port ranges.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>

#include "platform/nt/types.h"

namespace k52::nt {

enum INTERFACE_TYPE { Internal = 0, Isa = 1, Eisa = 2, MicroChannel = 3, PCIBus = 5 };

// Translates a bus address. Only I/O space exists (*AddressSpace 1 on input
// and output): a port below 0x10000 translates to itself. FALSE for memory
// space, a port beyond 16 bits, or a port the bus was told to refuse
// (IoBus::failTranslation).
BOOLEAN HalTranslateBusAddress(INTERFACE_TYPE InterfaceType, ULONG BusNumber,
                               PHYSICAL_ADDRESS BusAddress, PULONG AddressSpace,
                               PPHYSICAL_ADDRESS TranslatedAddress);

// Port accesses. Port is a translated port number in a pointer, as drivers
// keep it. An unmapped port reads 0xFF and ignores writes.
UCHAR READ_PORT_UCHAR(PUCHAR Port);
void WRITE_PORT_UCHAR(PUCHAR Port, UCHAR Value);

// A device on the bus. Called with the bus locked, one access at a time.
class PortDevice {
 public:
  virtual ~PortDevice() = default;
  virtual std::uint8_t readPort(std::uint16_t port) = 0;
  virtual void writePort(std::uint16_t port, std::uint8_t value) = 0;
};

// The I/O port space. Devices are referenced, not owned: a device must stay
// alive while mapped.
class IoBus {
 public:
  // Routes ports [firstPort, firstPort + count) to `device`. Throws
  // std::invalid_argument for an empty range, one beyond 0xFFFF, or one
  // overlapping a mapped range.
  void map(std::uint16_t firstPort, std::uint32_t count, PortDevice& device);
  // Removes the range starting at firstPort; false when there is none.
  bool unmap(std::uint16_t firstPort);

  std::uint8_t read(std::uint16_t port);
  void write(std::uint16_t port, std::uint8_t value);

  // Makes HalTranslateBusAddress fail (or succeed again) for `port`.
  void failTranslation(std::uint16_t port, bool fail = true);
  bool translationFails(std::uint16_t port) const;

 private:
  struct Range {
    std::uint32_t end;  // one past the last port
    PortDevice* device;
  };
  PortDevice* deviceAt(std::uint16_t port) const;

  mutable std::recursive_mutex mutex_;
  std::map<std::uint16_t, Range> ranges_;  // by first port
  std::set<std::uint16_t> refused_;
};

}  // namespace k52::nt

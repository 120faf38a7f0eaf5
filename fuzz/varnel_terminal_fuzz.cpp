// The reader driver against a terminal that answers anything: the input is
// a list of answers ([length][bytes] each) given in turn to the driver's
// commands during creation, a cold reset, a protocol choice, a transmit and
// a PIN request. The driver must neither crash, nor hang, nor overrun.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "drivers/reader/test_reader_rig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace k52;
  sim::ScriptedFirmware terminal;
  for (std::size_t at = 0; at < size;) {
    const std::size_t length = data[at++];
    const std::size_t n = length < size - at ? length : size - at;
    terminal.addAnswer(std::vector<std::uint8_t>(data + at, data + at + n));
    at += n;
  }
  varnel::ReaderRig rig(terminal);
  if (!nt::NT_SUCCESS(rig.start())) return 0;
  rig.power(nt::SCARD_COLD_RESET);
  rig.setProtocol(nt::SCARD_PROTOCOL_T0 | nt::SCARD_PROTOCOL_T1);
  rig.transmit(nt::SCARD_PROTOCOL_T0, {0x00, 0xB2, 0x01, 0xC4, 0x09});
  rig.transmit(nt::SCARD_PROTOCOL_T1, {0x00, 0xB2, 0x01, 0xC4, 0x09});
  rig.control(varnel::IOCTL_VARNEL_VENDOR,
              {0x6D, 0x52, 0x10, 0xC1, 0x05, 0x05, 0x00, 0x20, 0x00, 0x81, 0x08, 0x20, 0xFF,
               0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
              32);
  rig.attribute(0x7AEEE);
  return 0;
}

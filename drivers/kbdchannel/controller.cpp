// Access to the keyboard controller (8042) and the keyboard interrupt mask.
#include "drivers/kbdchannel/channel.h"

namespace k52::kbdchannel {
namespace {

constexpr UCHAR kKeyboardIrqMask = 0x02;
// The controller takes a command within microseconds; a bound of the order of
// the send path's limits turns a dead controller into an error.
constexpr int kCommandBytePolls = 60'000;

// Polls the status port, one millisecond apart, until `ready` holds.
template <typename Ready>
bool waitForStatus(ChannelExtension* ext, Ready ready) {
  for (int poll = 0; poll < kCommandBytePolls; ++poll) {
    if (ready(READ_PORT_UCHAR(ext->commandPort))) return true;
    KeStallExecutionProcessor(1000);
  }
  return false;
}

}  // namespace

void OutputByte(ChannelExtension* ext, USHORT port, UCHAR value) {
  if (port == 0x60) WRITE_PORT_UCHAR(ext->dataPort, value);
  if (port == 0x64) WRITE_PORT_UCHAR(ext->commandPort, value);
}

UCHAR InputByte(ChannelExtension* ext, USHORT port) {
  return READ_PORT_UCHAR(port == 0x60 ? ext->dataPort : ext->commandPort);
}

UCHAR ReadPort(ChannelExtension* ext, USHORT port) {
  return InputByte(ext, port);
}

void EnableKbInt(ChannelExtension* ext) {
  WRITE_PORT_UCHAR(ext->interruptMaskPort,
                   READ_PORT_UCHAR(ext->interruptMaskPort) & ~kKeyboardIrqMask);
}

void DisableKbInt(ChannelExtension* ext) {
  WRITE_PORT_UCHAR(ext->interruptMaskPort,
                   READ_PORT_UCHAR(ext->interruptMaskPort) | kKeyboardIrqMask);
}

bool Get8042CmdByte(ChannelExtension* ext, UCHAR* value) {
  WRITE_PORT_UCHAR(ext->commandPort, 0xAD);  // keyboard interface off
  WRITE_PORT_UCHAR(ext->commandPort, 0xA7);  // auxiliary interface off
  bool ok =
      waitForStatus(ext, [](UCHAR s) { return (s & (kStatusOutputFull | kStatusInputFull)) == 0; });
  if (ok) {
    WRITE_PORT_UCHAR(ext->commandPort, 0x20);  // read command byte
    ok = waitForStatus(ext, [](UCHAR s) { return (s & kStatusOutputFull) != 0; });
  }
  // The disable bits are ours; the caller wants the byte as it was.
  if (ok) *value = READ_PORT_UCHAR(ext->dataPort) & ~0x30;
  WRITE_PORT_UCHAR(ext->commandPort, 0xAE);
  WRITE_PORT_UCHAR(ext->commandPort, 0xA8);
  return ok;
}

void Write8042CmdByte(ChannelExtension* ext, UCHAR value) {
  WRITE_PORT_UCHAR(ext->commandPort, 0xAD);
  WRITE_PORT_UCHAR(ext->commandPort, 0xA7);
  WRITE_PORT_UCHAR(ext->commandPort, 0x60);  // write command byte
  WRITE_PORT_UCHAR(ext->dataPort, value);
}

}  // namespace k52::kbdchannel

// The send path: bytes to the keyboard through the controller, each waited
// for and, for the terminal, nibble coded.
#include "drivers/kbdchannel/channel.h"

namespace k52::kbdchannel {
namespace {

constexpr ULONG kInputEmptyPolls = 59'999;
constexpr int kAckChecks = 25;
constexpr ULONG kAckPollMs = 2;
constexpr ULONG kDrainPasses = 200'000;
constexpr UCHAR kNibbleBase = 0xB0;
constexpr UCHAR kCwtCommand = 0xCB;
constexpr USHORT kMaxCwt = 127;

// Empties the FIFO with the keyboard interrupt masked, so that afterwards it
// holds only what answers this send; then waits for the controller.
USHORT prepareSend(ChannelExtension* ext) {
  DisableKbInt(ext);
  ClearFifo(ext);
  EnableKbInt(ext);
  return DrainOutputBuffer(ext);
}

USHORT sendCode(ChannelExtension* ext, UCHAR code) {
  if (PutBytePolled(ext, true, 0x60, code) != kSendOk) return kSendFailed;
  return DrainOutputBuffer(ext);
}

}  // namespace

USHORT PutBytePolled(ChannelExtension* ext, bool waitAck, USHORT port, UCHAR value) {
  while (ext->sendHold) {
    // The LED timer's deferred procedure ends the hold.
    KeStallExecutionProcessor(100);
  }
  ULONG polls = 0;
  while (ReadPort(ext, 0x64) & kStatusInputFull) {
    if (++polls >= kInputEmptyPolls) return kSendFailed;
    wait_ms(ext, 1);
  }
  ext->awaitingAck = 1;
  OutputByte(ext, port, value);
  if (!waitAck) return kSendOk;

  USHORT result = kSendFailed;
  for (int check = 0; check < kAckChecks; ++check) {
    if (!ext->awaitingAck) {
      result = kSendOk;
      break;
    }
    ReadPort(ext, 0x64);
    wait_ms(ext, kAckPollMs);
  }
  ReadPort(ext, 0x64);
  ext->awaitingAck = 0;
  return result;
}

USHORT DrainOutputBuffer(ChannelExtension* ext) {
  for (ULONG pass = 0; pass < kDrainPasses; ++pass) {
    if (!(ReadPort(ext, 0x64) & kStatusInputFull)) return kSendOk;
    const UCHAR status = ReadPort(ext, 0x64);
    if ((status & (kStatusOutputFull | kStatusAuxByte)) == (kStatusOutputFull | kStatusAuxByte))
      return kSendOk;
    KeStallExecutionProcessor(1000);
  }
  return kSendFailed;
}

USHORT vrlPCSC_SendStrKeyboard(ChannelExtension* ext, USHORT length, const UCHAR* data) {
  if (prepareSend(ext) != kSendOk) return kSendFailed;
  USHORT result = kSendOk;
  for (USHORT i = 0; i < length && result == kSendOk; ++i) {
    result = PutBytePolled(ext, true, 0x60, data[i]);
    DrainOutputBuffer(ext);
  }
  return result;
}

USHORT vrlPCSC_SendStrCardTerminal(ChannelExtension* ext, USHORT length, const UCHAR* data) {
  if (prepareSend(ext) != kSendOk) return kSendFailed;
  for (int shift = 12; shift >= 0; shift -= 4) {
    if (sendCode(ext, static_cast<UCHAR>(kNibbleBase + ((length >> shift) & 0x0F))) != kSendOk) {
      return kSendFailed;
    }
  }
  for (USHORT i = 0; i < length; ++i) {
    if (sendCode(ext, static_cast<UCHAR>(kNibbleBase + (data[i] >> 4))) != kSendOk ||
        sendCode(ext, static_cast<UCHAR>(kNibbleBase + (data[i] & 0x0F))) != kSendOk) {
      return kSendFailed;
    }
  }
  return kSendOk;
}

USHORT SetKeyboardCWT(ChannelExtension* ext) {
  if (ext->keyboardCwt > kMaxCwt) ext->keyboardCwt = kMaxCwt;
  const UCHAR command[] = {kCwtCommand, static_cast<UCHAR>(ext->keyboardCwt)};
  return vrlPCSC_SendStrKeyboard(ext, sizeof command, command);
}

}  // namespace k52::kbdchannel

// The read filter: takes the card terminal's scan-code frames out of every
// completed keyboard read, queues their bytes and lets keystrokes pass.
#include "drivers/kbdchannel/channel.h"

namespace k52::kbdchannel {
namespace {

constexpr UCHAR kLeadIn = 0x64;
constexpr UCHAR kAck = 0xFE;
constexpr UCHAR kFifoPort = 0x60;
constexpr UCHAR kFifoKind = 1;
// The acknowledgment a send waits for may be overtaken by a lock key's LED
// traffic; give the keyboard that long before the hold starts.
constexpr ULONG kLockKeyAckStallUs = 40'000;

struct HeldKey {
  UCHAR make;
  UCHAR ChannelExtension::*held;
};
constexpr HeldKey kHeldKeys[] = {
    {0x3A, &ChannelExtension::capsLockHeld},  {0x46, &ChannelExtension::scrollLockHeld},
    {0x2A, &ChannelExtension::leftShiftHeld}, {0x36, &ChannelExtension::rightShiftHeld},
    {0x45, &ChannelExtension::numLockHeld},
};

bool isLockKey(UCHAR make) {
  return make == 0x3A || make == 0x45 || make == 0x46;
}

void endFrame(ChannelExtension* ext) {
  ext->nibbleCount = 0;
  ext->frameByte = 0;
  ext->expectedNibbles = kNoFrameYet;
  ext->frameMode = 0;
  ext->leadInSeen = 0;
}

void queueByte(ChannelExtension* ext, UCHAR byte) {
  Fifin(ext, byte, kFifoPort, kFifoKind, GetTickCount(ext));
  if (ext->callbacksSet && ext->dataCallback) {
    ext->dataCallback(ext->callbackContext, GetFifoCount(ext));
  }
}

// A nibble code of a frame; true when the record is taken out.
bool takeNibble(ChannelExtension* ext, UCHAR code) {
  if (ext->nibbleCount > ext->expectedNibbles) {
    endFrame(ext);  // more nibbles than the frame announced: give it up
    return false;
  }
  if (ext->nibblePhase == 0) {
    ext->highNibbleCode = code;
    ext->nibblePhase = 1;
    ext->frameByte = 0;
  } else {
    ext->nibblePhase = 0;
    ext->frameByte = static_cast<UCHAR>(((ext->highNibbleCode - 0x10) << 4) | (code - 0x10));
    queueByte(ext, ext->frameByte);
    if (ext->nibbleCount == 1) {
      ext->frameLength = static_cast<USHORT>(ext->frameByte << 8);
    } else if (ext->nibbleCount == 3) {
      ext->frameLength |= ext->frameByte;
      ext->expectedNibbles = static_cast<USHORT>(2 * ext->frameLength + 4);
    }
  }
  if (++ext->nibbleCount == ext->expectedNibbles) endFrame(ext);
  return true;
}

// Lock and shift keys hold sending back for a moment; true when the LED
// timer was armed for this record.
bool watchHeldKeys(ChannelExtension* ext, UCHAR code) {
  for (const HeldKey& key : kHeldKeys) {
    if (code == (key.make | 0x80)) {
      ext->*key.held = 0;
      return false;
    }
    if (code != key.make) continue;
    if (isLockKey(code) && ext->awaitingAck) KeStallExecutionProcessor(kLockKeyAckStallUs);
    if (ext->*key.held) return false;  // a repeated make of a held key
    ext->*key.held = 1;
    armLedHold(ext, ext->ledTimeoutMs);
    return true;
  }
  return false;
}

// The lead-in and acknowledgment codes of keystroke traffic; true when the
// record is taken out.
bool takeControlCode(ChannelExtension* ext, UCHAR code) {
  bool removed = false;
  if (code == kAck) {
    ext->awaitingAck = 0;
    removed = true;
  }
  if (ext->leadInSeen) {
    if (code == 0x7F || code == 0xFF) {
      ext->frameMode = 1;
      // A frame always begins with a high nibble, even when the last one was
      // cut off in the middle of a byte (an unhook, an abandoned frame).
      ext->nibblePhase = 0;
      return true;
    }
    ext->leadInSeen = 0;
    return removed;
  }
  if (code == kLeadIn) {
    ext->leadInSeen = 1;
    return true;
  }
  return removed;
}

}  // namespace

void InitializeParams(ChannelExtension* ext) {
  endFrame(ext);
  ext->awaitingAck = 0;
  for (const HeldKey& key : kHeldKeys) ext->*key.held = 0;
}

ULONG RemoveKeyFromBuffer(PKEYBOARD_INPUT_DATA records, ULONG n, ULONG i) {
  if (i + 1 > n) return n;
  for (ULONG j = i; j + 1 < n; ++j) records[j] = records[j + 1];
  records[n - 1] = {};
  records[n - 1].UnitId = records[0].UnitId;
  return n - 1;
}

NTSTATUS vrlPCSCReadComplete(PDEVICE_OBJECT, PIRP irp, PVOID) {
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  const NTSTATUS status = irp->IoStatus.Status;
  ChannelExtension* ext = channel();
  if (!NT_SUCCESS(status) || ext == nullptr) return status;

  auto* records = static_cast<PKEYBOARD_INPUT_DATA>(irp->AssociatedIrp.SystemBuffer);
  ULONG n = static_cast<ULONG>(irp->IoStatus.Information / sizeof(KEYBOARD_INPUT_DATA));
  ULONG i = 0;
  while (i < n) {
    const bool active =
        (ext->filterMode & (kFilterOn | kFilterAttached)) == (kFilterOn | kFilterAttached);
    const auto code =
        static_cast<UCHAR>(records[i].MakeCode | ((records[i].Flags & KEY_BREAK) ? 0x80 : 0));
    bool removed = false;
    if (!active) {
      // the filter is off: everything stays
    } else if (ext->frameMode) {
      removed = code >= 0x10 && code <= 0x1F && takeNibble(ext, code);
    } else if (!watchHeldKeys(ext, code)) {
      removed = takeControlCode(ext, code);
    }
    if (removed) {
      n = RemoveKeyFromBuffer(records, n, i);  // the next record moved into slot i
    } else {
      ++i;
    }
  }
  irp->IoStatus.Information = n * sizeof(KEYBOARD_INPUT_DATA);
  return status;
}

}  // namespace k52::kbdchannel

// The vendor request: the keyboard's PIN commands, passed to the terminal,
// which asks for the PIN, builds the card command and sends it itself.
#include <cstring>

#include "drivers/reader/reader.h"

namespace k52::varnel {
namespace {

constexpr UCHAR kVerify = 0x6D;
constexpr UCHAR kTimerTag = 0x80;
constexpr UCHAR kCommandToPerformTag = 0x52;
constexpr ULONG kVerifyTimeout100ns = 150'000'000;  // 15 s
constexpr ULONG kModifyTimeout100ns = 450'000'000;  // 45 s
constexpr ULONG kSecond100ns = 10'000'000;

// The last character of the interface device type, before a terminating zero.
UCHAR typeSuffix(const VENDOR_ATTR& vendor) {
  ULONG length = vendor.IfdType.Length;
  if (length > sizeof vendor.IfdType.Buffer) length = sizeof vendor.IfdType.Buffer;
  while (length > 0 && vendor.IfdType.Buffer[length - 1] == 0) --length;
  return length ? vendor.IfdType.Buffer[length - 1] : 0;
}

}  // namespace

bool HasPinPad(const VENDOR_ATTR& vendor) {
  const UCHAR suffix = typeSuffix(vendor);
  return suffix == 'A' || suffix == 'B';
}

void PrepareVendorFrame(READER_EXTENSION* r) {
  const ULONG staged = r->stagingLength;
  r->stagingLength = 0;  // sent once
  std::memcpy(r->uTransmitBuffer, r->staging, staged);
  r->dwTransmitBufferLen = staged;
  UCHAR* command = r->uTransmitBuffer + kFrameCodeAt;  // offsets count from the command byte
  const ULONG length = staged - kFrameCodeAt;
  const ULONG k = length > 3 && command[1] == kTimerTag ? 3 : 0;
  ULONG timeout100ns = command[0] == kVerify ? kVerifyTimeout100ns : kModifyTimeout100ns;
  // The user needs the time the timer object grants to type the PIN.
  if (k == 3) timeout100ns += command[3] * kSecond100ns;
  r->replyTimeout = timeout100ns;
  if (length > k + 4 && command[k + 1] == kCommandToPerformTag) {
    command[k + 4] = r->t1SendSequence ^ 0x40;
    r->t1SendSequence ^= 0x40;
  }
}

NTSTATUS InterpretVendorAnswer(PSMARTCARD_EXTENSION sc, NTSTATUS linkStatus) {
  READER_EXTENSION* r = sc->ReaderExtension;
  r->t1ReceiveSequence ^= 0x40;
  r->replyTimeout = kDefaultReplyTimeout100ns;
  const ULONG length = answerLength(r);
  const UCHAR code = answerCode(r);
  if (NT_SUCCESS(linkStatus)) {
    UCHAR* data = r->receiveBuffer + kFrameDataAt;
    // Reshaped as a block (NAD 0, PCB 0, LEN 2) carrying the caller's two bytes.
    if (code == kAnswerError && length == 1) {
      const UCHAR reshaped[] = {0x00, 0x06, kAnswerData, 0x00, 0x00, 0x02, 0x64, 0x00};
      std::memcpy(r->receiveBuffer, reshaped, sizeof reshaped);
      r->receiveCount = sizeof reshaped;
      r->t1SendSequence ^= 0x40;
    } else if (code == kAnswerData && length == 3) {
      const UCHAR d1 = data[0];
      const UCHAR d2 = data[1];
      const UCHAR reshaped[] = {0x00, 0x06, kAnswerData, 0x00, 0x00, 0x02, d1, d2};
      std::memcpy(r->receiveBuffer, reshaped, sizeof reshaped);
      r->receiveCount = sizeof reshaped;
      r->t1SendSequence ^= 0x40;
    } else if (code == kAnswerData && length >= 7) {
      r->t1ReceiveSequence = data[kBlockPcbAt];
    }
  }
  if (!sc->IoRequest.ReplyBuffer || sc->IoRequest.ReplyBufferLength == 0) {
    return STATUS_DEVICE_DATA_ERROR;
  }
  return linkStatus;
}

NTSTATUS VARNEL_Specific(PSMARTCARD_EXTENSION sc) {
  READER_EXTENSION* r = sc->ReaderExtension;
  XDS();
  if (!HasPinPad(sc->VendorAttr)) {
    r->stagingLength = 0;
    return STATUS_NOT_SUPPORTED;
  }
  // Only the vendor request stages a frame. Whatever else the library hands
  // here (an unknown control code, a vendor attribute) must not send it
  // again: the keypad would ask for the PIN once more.
  if (r->stagingLength <= kFrameCodeAt) return STATUS_INVALID_DEVICE_REQUEST;
  return VARNEL_ReadWrite(kVendor, sc);
}

}  // namespace k52::varnel

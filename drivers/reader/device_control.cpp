// The platform's requests: create and close, and device control with the
// few requests the driver answers before the smart card library.
#include <cstring>

#include "drivers/reader/reader.h"

namespace k52::varnel {
namespace {

constexpr ULONG SCARD_ATTR_ICC_PRESENTED = 0x7AEEE;
constexpr ULONG kAuthDeviceKeypad = 6;

NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR bytes) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = bytes;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

// The vendor request: the caller's bytes behind a length word go to the
// terminal; its answer from the LEN byte on comes back.
NTSTATUS vendorRequest(PSMARTCARD_EXTENSION sc, PIRP irp, ULONG inLength, ULONG outLength) {
  READER_EXTENSION* r = sc->ReaderExtension;
  auto* buffer = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
  // The frame holds at most the buffer, its length word included.
  if (inLength == 0 || inLength + 2 > kLinkBufferSize || buffer == nullptr) {
    return complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
  r->staging[0] = static_cast<UCHAR>(inLength >> 8);
  r->staging[1] = static_cast<UCHAR>(inLength);
  std::memcpy(r->staging + 2, buffer, inLength);
  r->stagingLength = inLength + 2;
  ULONG_PTR information = 0;
  sc->IoRequest.Information = &information;
  sc->IoRequest.ReplyBuffer = outLength ? buffer : nullptr;
  sc->IoRequest.ReplyBufferLength = outLength;
  NTSTATUS status = VARNEL_Specific(sc);
  sc->IoRequest.Information = nullptr;
  if (!NT_SUCCESS(status)) return complete(irp, status, 0);
  // The answer is shaped as a block: the caller gets its LEN bytes of INF.
  const UCHAR* block = r->receiveBuffer + kFrameDataAt;
  const ULONG infAt = kFrameDataAt + kBlockInfAt;
  const ULONG frame = answerLength(r) + 2;
  if (frame < infAt || frame > r->receiveCount) return complete(irp, STATUS_DEVICE_DATA_ERROR, 0);
  const ULONG count = block[kBlockLenAt];
  if (outLength < count) return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  if (infAt + count > frame) return complete(irp, STATUS_DEVICE_DATA_ERROR, 0);
  std::memcpy(buffer, block + kBlockInfAt, count);
  return complete(irp, STATUS_SUCCESS, count);
}

bool isAttributeRequest(PIO_STACK_LOCATION stack, PIRP irp, ULONG tag) {
  const auto& p = stack->Parameters.DeviceIoControl;
  if (p.IoControlCode != IOCTL_SMARTCARD_GET_ATTRIBUTE || p.InputBufferLength < sizeof(ULONG)) {
    return false;
  }
  ULONG asked;
  std::memcpy(&asked, irp->AssociatedIrp.SystemBuffer, sizeof asked);
  return asked == tag;
}

NTSTATUS answerUlong(PIRP irp, PIO_STACK_LOCATION stack, ULONG value) {
  if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof value) {
    return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  }
  std::memcpy(irp->AssociatedIrp.SystemBuffer, &value, sizeof value);
  return complete(irp, STATUS_SUCCESS, sizeof value);
}

NTSTATUS handle(DEVICE_EXTENSION* ext, PIRP irp) {
  PSMARTCARD_EXTENSION sc = &ext->SmartcardExtension;
  READER_EXTENSION* r = &ext->ReaderExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const auto& p = stack->Parameters.DeviceIoControl;
  if (p.IoControlCode == IOCTL_VARNEL_VENDOR) {
    return vendorRequest(sc, irp, p.InputBufferLength, p.OutputBufferLength);
  }
  if (isAttributeRequest(stack, irp, SCARD_ATTR_ICC_PRESENTED)) {
    const NTSTATUS status = answerUlong(irp, stack, r->cardChanged);
    if (NT_SUCCESS(status) && sc->ReaderCapabilities.CurrentState >= SCARD_POWERED) {
      r->cardChanged = 0;
    }
    return status;
  }
  if ((isAttributeRequest(stack, irp, SCARD_ATTR_USER_TO_CARD_AUTH_DEVICE) ||
       isAttributeRequest(stack, irp, SCARD_ATTR_USER_AUTH_INPUT_DEVICE)) &&
      HasPinPad(sc->VendorAttr)) {
    return answerUlong(irp, stack, kAuthDeviceKeypad);
  }
  return SmartcardDeviceControl(sc, irp);
}

}  // namespace

NTSTATUS VARNEL_CreateClose(PDEVICE_OBJECT, PIRP irp) {
  return complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS VARNEL_DeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  auto* ext = static_cast<DEVICE_EXTENSION*>(device->DeviceExtension);
  XDS();
  ClaimReader(&ext->ReaderExtension);
  const NTSTATUS status = handle(ext, irp);
  ReleaseReader(&ext->ReaderExtension);
  return status;
}

}  // namespace k52::varnel

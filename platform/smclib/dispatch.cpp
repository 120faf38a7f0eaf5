// SmartcardDeviceControl: checks a standard smart card request, answers it
// from the extension or calls the reader function for it, and completes it.
#include <cstring>

#include "platform/smclib/attributes.h"
#include "platform/smclib/internal.h"

namespace k52::nt {
namespace {

constexpr ULONG kPoolTag = 0x4C434D53;  // "SMCL"

NTSTATUS complete(PIRP irp, NTSTATUS status) {
  if (!NT_SUCCESS(status)) irp->IoStatus.Information = 0;
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

ULONG readUlong(const UCHAR* p) {
  ULONG v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

NTSTATUS callReader(PSMARTCARD_EXTENSION ext, ULONG function) {
  PRDF_FUNCTION fn = ext->ReaderFunction[function];
  return fn ? fn(ext) : STATUS_NOT_SUPPORTED;
}

NTSTATUS answerUlong(PSMARTCARD_EXTENSION ext, ULONG value) {
  if (ext->IoRequest.ReplyBufferLength < sizeof value) return STATUS_BUFFER_TOO_SMALL;
  std::memcpy(ext->IoRequest.ReplyBuffer, &value, sizeof value);
  *ext->IoRequest.Information = sizeof value;
  return STATUS_SUCCESS;
}

ULONG currentState(PSMARTCARD_EXTENSION ext) {
  KIRQL irql;
  KeAcquireSpinLock(&ext->OsData->SpinLock, &irql);
  const ULONG state = ext->ReaderCapabilities.CurrentState;
  KeReleaseSpinLock(&ext->OsData->SpinLock, irql);
  return state;
}

// Points the request at a private copy of the transmit input, so that the
// answer written into the shared buffer cannot overwrite a command that
// may still have to be sent again.
NTSTATUS copyTransmitInput(PSMARTCARD_EXTENSION ext) {
  POS_DEP_DATA os = ext->OsData;
  const ULONG length = ext->IoRequest.RequestBufferLength;
  if (os->TransmitCopySize < length) {
    auto* copy = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, length, kPoolTag));
    if (copy == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    if (os->TransmitCopy) ExFreePool(os->TransmitCopy);
    os->TransmitCopy = copy;
    os->TransmitCopySize = length;
  }
  std::memcpy(os->TransmitCopy, ext->IoRequest.RequestBuffer, length);
  ext->IoRequest.RequestBuffer = os->TransmitCopy;
  return STATUS_SUCCESS;
}

NTSTATUS transmit(PSMARTCARD_EXTENSION ext) {
  const ULONG in = ext->IoRequest.RequestBufferLength;
  if (in < sizeof(SCARD_IO_REQUEST) ||
      ext->IoRequest.ReplyBufferLength < sizeof(SCARD_IO_REQUEST)) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  SCARD_IO_REQUEST header;
  std::memcpy(&header, ext->IoRequest.RequestBuffer, sizeof header);
  if (header.cbPciLength < sizeof header || header.cbPciLength > in) {
    return STATUS_INVALID_PARAMETER;
  }
  smc::closeT1Exchange(ext);
  const NTSTATUS status = copyTransmitInput(ext);
  return NT_SUCCESS(status) ? callReader(ext, RDF_TRANSMIT) : status;
}

NTSTATUS attribute(PSMARTCARD_EXTENSION ext, bool get) {
  const ULONG in = ext->IoRequest.RequestBufferLength;
  if (in < sizeof(ULONG)) return STATUS_INVALID_PARAMETER;
  const ULONG tag = readUlong(ext->IoRequest.RequestBuffer);
  if (SCARD_ATTR_CLASS(tag) == SCARD_CLASS_VENDOR_DEFINED) return callReader(ext, RDF_IOCTL_VENDOR);
  if (!get) {
    return smc::setAttribute(ext, tag,
                             {ext->IoRequest.RequestBuffer + sizeof tag, in - sizeof tag});
  }
  return smc::getAttribute(*ext, tag,
                           {ext->IoRequest.ReplyBuffer, ext->IoRequest.ReplyBufferLength},
                           ext->IoRequest.Information);
}

NTSTATUS serve(PSMARTCARD_EXTENSION ext, ULONG code) {
  const ULONG in = ext->IoRequest.RequestBufferLength;
  switch (code) {
    case IOCTL_SMARTCARD_POWER:
      if (in < sizeof(ULONG)) return STATUS_INVALID_PARAMETER;
      ext->MinorIoControlCode = readUlong(ext->IoRequest.RequestBuffer);
      // Whatever happens to the card's power, a T=1 link starts afresh.
      smc::resetT1(ext);
      return callReader(ext, RDF_CARD_POWER);
    case IOCTL_SMARTCARD_GET_STATE:
      return answerUlong(ext, currentState(ext));
    case IOCTL_SMARTCARD_SET_PROTOCOL:
      if (in < sizeof(ULONG)) return STATUS_INVALID_PARAMETER;
      if (ext->IoRequest.ReplyBufferLength < sizeof(ULONG)) return STATUS_BUFFER_TOO_SMALL;
      ext->MinorIoControlCode = readUlong(ext->IoRequest.RequestBuffer);
      return callReader(ext, RDF_SET_PROTOCOL);
    case IOCTL_SMARTCARD_TRANSMIT:
      return transmit(ext);
    case IOCTL_SMARTCARD_GET_ATTRIBUTE:
      return attribute(ext, true);
    case IOCTL_SMARTCARD_SET_ATTRIBUTE:
      return attribute(ext, false);
    case IOCTL_SMARTCARD_GET_LAST_ERROR:
      return answerUlong(ext, ext->LastError);
    case IOCTL_SMARTCARD_EJECT:
      return callReader(ext, RDF_CARD_EJECT);
    case IOCTL_SMARTCARD_SWALLOW:
      return callReader(ext, RDF_READER_SWALLOW);
    case IOCTL_SMARTCARD_CONFISCATE:
      return callReader(ext, RDF_CARD_CONFISCATE);
    default:
      return ext->ReaderFunction[RDF_IOCTL_VENDOR] ? callReader(ext, RDF_IOCTL_VENDOR)
                                                   : STATUS_INVALID_DEVICE_REQUEST;
  }
}

// The library's own cancel routine of a held tracking request, for reader
// drivers that do not install theirs.
void cancelTracking(PDEVICE_OBJECT, PIRP irp) {
  auto* ext = static_cast<PSMARTCARD_EXTENSION>(irp->Tail.Overlay.DriverContext[3]);
  if (ext->OsData->NotificationIrp == irp) ext->OsData->NotificationIrp = nullptr;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  complete(irp, STATUS_CANCELLED);
}

bool satisfied(PSMARTCARD_EXTENSION ext, ULONG code) {
  const ULONG state = currentState(ext);
  return code == IOCTL_SMARTCARD_IS_PRESENT ? state > SCARD_ABSENT : state == SCARD_ABSENT;
}

// Takes the held tracking request back and completes it, unless someone
// else completed or cancelled it first.
void release(PSMARTCARD_EXTENSION ext, PIRP irp, NTSTATUS status) {
  POS_DEP_DATA os = ext->OsData;
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  const bool held = os->NotificationIrp == irp;
  if (held) {
    os->NotificationIrp = nullptr;
    IoSetCancelRoutine(irp, nullptr);
  }
  IoReleaseCancelSpinLock(irql);
  if (held) complete(irp, status);
}

// IS_PRESENT / IS_ABSENT: answered at once when the card is already where
// the caller wants it, otherwise held in NotificationIrp for the reader's
// tracking function. The held request is guarded by the cancel spin lock.
// It runs beside the request being dispatched, so it leaves the extension's
// request fields alone.
NTSTATUS track(PSMARTCARD_EXTENSION ext, PIRP irp, ULONG code) {
  POS_DEP_DATA os = ext->OsData;
  if (satisfied(ext, code)) return complete(irp, STATUS_SUCCESS);
  if (ext->ReaderFunction[RDF_CARD_TRACKING] == nullptr) return complete(irp, STATUS_NOT_SUPPORTED);

  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  if (os->NotificationIrp != nullptr || irp->Cancel) {
    IoReleaseCancelSpinLock(irql);
    return complete(irp, irp->Cancel ? STATUS_CANCELLED : STATUS_DEVICE_BUSY);
  }
  os->NotificationIrp = irp;
  irp->Tail.Overlay.DriverContext[3] = ext;
  IoMarkIrpPending(irp);
  IoSetCancelRoutine(irp, cancelTracking);
  IoReleaseCancelSpinLock(irql);

  const NTSTATUS status = ext->ReaderFunction[RDF_CARD_TRACKING](ext);
  if (status != STATUS_PENDING) {
    release(ext, irp, status);  // the reader did not keep it
  } else if (satisfied(ext, code)) {
    // The card came or went between the first look and the reader taking
    // the request over: that change would otherwise go unnoticed.
    release(ext, irp, STATUS_SUCCESS);
  }
  return STATUS_PENDING;
}

}  // namespace

NTSTATUS SmartcardDeviceControl(PSMARTCARD_EXTENSION SmartcardExtension, PIRP Irp) {
  PSMARTCARD_EXTENSION ext = SmartcardExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
  auto* buffer = static_cast<PUCHAR>(Irp->AssociatedIrp.SystemBuffer);
  Irp->IoStatus.Information = 0;
  if (ext == nullptr || ext->OsData == nullptr) return complete(Irp, STATUS_INVALID_DEVICE_STATE);
  if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) {
    return complete(Irp, STATUS_INVALID_DEVICE_REQUEST);
  }
  if ((in > 0 || out > 0) && buffer == nullptr) return complete(Irp, STATUS_INVALID_PARAMETER);
  if (code == IOCTL_SMARTCARD_IS_PRESENT || code == IOCTL_SMARTCARD_IS_ABSENT) {
    return track(ext, Irp, code);
  }

  POS_DEP_DATA os = ext->OsData;
  KIRQL irql;
  KeAcquireSpinLock(&os->SpinLock, &irql);
  const bool busy = os->CurrentIrp != nullptr;
  if (!busy) os->CurrentIrp = Irp;
  KeReleaseSpinLock(&os->SpinLock, irql);
  if (busy) return complete(Irp, STATUS_DEVICE_BUSY);

  ext->MajorIoControlCode = code;
  ext->MinorIoControlCode = 0;
  ext->IoRequest.Information = &Irp->IoStatus.Information;
  ext->IoRequest.RequestBuffer = buffer;
  ext->IoRequest.RequestBufferLength = in;
  ext->IoRequest.ReplyBuffer = buffer;
  ext->IoRequest.ReplyBufferLength = out;
  const NTSTATUS status = serve(ext, code);
  if (status != STATUS_PENDING) ext->IoRequest = {};

  KeAcquireSpinLock(&os->SpinLock, &irql);
  os->CurrentIrp = nullptr;
  KeReleaseSpinLock(&os->SpinLock, irql);
  if (status == STATUS_PENDING) return status;  // the reader completes it
  if (!NT_SUCCESS(status)) ext->LastError = static_cast<ULONG>(status);
  // A reader function cannot make the request claim more than its buffer.
  if (Irp->IoStatus.Information > out) Irp->IoStatus.Information = out;
  return complete(Irp, status);
}

void SmartcardCompleteCardTracking(PSMARTCARD_EXTENSION SmartcardExtension) {
  POS_DEP_DATA os = SmartcardExtension->OsData;
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  PIRP irp = os->NotificationIrp;
  os->NotificationIrp = nullptr;
  if (irp) IoSetCancelRoutine(irp, nullptr);
  IoReleaseCancelSpinLock(irql);
  if (irp) {
    irp->IoStatus.Information = 0;
    complete(irp, STATUS_SUCCESS);
  }
}

}  // namespace k52::nt

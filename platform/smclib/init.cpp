// The library's data beside a reader's extension, and the reader's link.
#include <algorithm>
#include <cwchar>

#include "platform/smclib/internal.h"

namespace k52::nt {
namespace {

constexpr ULONG kPoolTag = 0x4C434D53;  // "SMCL"

// Gives a library buffer without one a buffer of its own.
bool provide(SMARTCARD_REQUEST& buffer, PUCHAR* own) {
  if (buffer.Buffer != nullptr) return true;
  buffer.BufferSize = std::max(buffer.BufferSize, MIN_BUFFER_SIZE);
  *own = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, buffer.BufferSize, kPoolTag));
  buffer.Buffer = *own;
  buffer.BufferLength = 0;
  return *own != nullptr;
}

}  // namespace

NTSTATUS SmartcardInitialize(PSMARTCARD_EXTENSION SmartcardExtension) {
  PSMARTCARD_EXTENSION ext = SmartcardExtension;
  if (ext == nullptr || ext->Version < SMCLIB_VERSION_REQUIRED || ext->OsData != nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  if ((ext->SmartcardRequest.Buffer && ext->SmartcardRequest.BufferSize == 0) ||
      (ext->SmartcardReply.Buffer && ext->SmartcardReply.BufferSize == 0)) {
    return STATUS_INVALID_PARAMETER;
  }
  auto* os =
      static_cast<POS_DEP_DATA>(ExAllocatePoolWithTag(NonPagedPool, sizeof(OS_DEP_DATA), kPoolTag));
  if (os == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  RtlZeroMemory(os, sizeof *os);
  KeInitializeSpinLock(&os->SpinLock);
  ext->OsData = os;
  if (!provide(ext->SmartcardRequest, &os->OwnRequestBuffer) ||
      !provide(ext->SmartcardReply, &os->OwnReplyBuffer)) {
    SmartcardExit(ext);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  ext->T1.NAD = 0;
  smc::resetT1(ext);
  return STATUS_SUCCESS;
}

void SmartcardExit(PSMARTCARD_EXTENSION SmartcardExtension) {
  PSMARTCARD_EXTENSION ext = SmartcardExtension;
  POS_DEP_DATA os = ext->OsData;
  if (os == nullptr) return;
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  PIRP irp = os->NotificationIrp;
  os->NotificationIrp = nullptr;
  if (irp) IoSetCancelRoutine(irp, nullptr);
  IoReleaseCancelSpinLock(irql);
  if (irp) {
    irp->IoStatus.Status = STATUS_CANCELLED;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
  }
  if (os->OwnRequestBuffer) {
    ExFreePool(os->OwnRequestBuffer);
    ext->SmartcardRequest.Buffer = nullptr;
  }
  if (os->OwnReplyBuffer) {
    ExFreePool(os->OwnReplyBuffer);
    ext->SmartcardReply.Buffer = nullptr;
  }
  if (os->TransmitCopy) ExFreePool(os->TransmitCopy);
  ExFreePool(os);
  ext->OsData = nullptr;
}

NTSTATUS SmartcardCreateLink(PUNICODE_STRING LinkName, PUNICODE_STRING DeviceName) {
  if (LinkName == nullptr || DeviceName == nullptr) return STATUS_INVALID_PARAMETER;
  constexpr std::size_t kChars = 24;
  auto* buffer =
      static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, kChars * sizeof(WCHAR), kPoolTag));
  if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  for (ULONG i = 0; i < MAXIMUM_SMARTCARD_READERS; ++i) {
    std::swprintf(buffer, kChars, L"\\DosDevices\\SCReader%u", static_cast<unsigned>(i));
    RtlInitUnicodeString(LinkName, buffer);
    LinkName->MaximumLength = kChars * sizeof(WCHAR);
    const NTSTATUS status = IoCreateSymbolicLink(LinkName, DeviceName);
    if (status != STATUS_OBJECT_NAME_COLLISION) {
      if (!NT_SUCCESS(status)) {
        ExFreePool(buffer);
        *LinkName = {};
      }
      return status;
    }
  }
  ExFreePool(buffer);
  *LinkName = {};
  return STATUS_OBJECT_NAME_COLLISION;
}

NTSTATUS SmartcardDeleteLink(PUNICODE_STRING LinkName) {
  if (LinkName == nullptr || LinkName->Buffer == nullptr) return STATUS_INVALID_PARAMETER;
  const NTSTATUS status = IoDeleteSymbolicLink(LinkName);
  ExFreePool(LinkName->Buffer);
  *LinkName = {};
  return status;
}

}  // namespace k52::nt

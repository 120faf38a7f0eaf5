// Hooking into the keyboard stack: the filter device sits above the keyboard
// class device while a client is attached, and every read passes through it.
#include "drivers/kbdchannel/channel.h"

namespace k52::kbdchannel {
namespace {

// Completes the read the keystroke reader has pending at the class device,
// so that its next read takes the new path at once, without a keystroke.
void restartPendingRead(PDEVICE_OBJECT classDevice, NTSTATUS status) {
  PIRP pending = classDevice->CurrentIrp;
  IoStartNextPacket(classDevice, FALSE);
  if (pending) {
    pending->IoStatus.Status = status;
    pending->IoStatus.Information = 0;
    IoCompleteRequest(pending, IO_NO_INCREMENT);
  }
}

}  // namespace

NTSTATUS vrlPCSCHook(PDEVICE_OBJECT) {
  ChannelExtension* ext = channel();
  if (ext->hooked) return STATUS_SUCCESS;
  UNICODE_STRING className;
  RtlInitUnicodeString(&className, L"\\Device\\KeyboardClass0");
  const NTSTATUS status = IoAttachDevice(hookDeviceObj, &className, &kbdDeviceObj);
  if (NT_SUCCESS(status)) {
    ext->hooked = 1;
    restartPendingRead(kbdDeviceObj, status);
  } else {
    kbdDeviceObj = nullptr;
  }
  InitializeParams(ext);
  return status;
}

NTSTATUS vrlPCSCUnhook(PDEVICE_OBJECT) {
  ChannelExtension* ext = channel();
  if (ext->hooked && kbdDeviceObj) {
    ext->hooked = 0;
    restartPendingRead(kbdDeviceObj, STATUS_SUCCESS);
    IoDetachDevice(kbdDeviceObj);
    kbdDeviceObj = nullptr;
  }
  InitializeParams(ext);
  return STATUS_SUCCESS;
}

NTSTATUS vrlPCSCDrvRead(PDEVICE_OBJECT, PIRP irp) {
  if (!kbdDeviceObj) {
    // Nothing to read from while no keyboard is hooked.
    irp->IoStatus.Status = STATUS_DEVICE_NOT_CONNECTED;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_DEVICE_NOT_CONNECTED;
  }
  IoCopyCurrentIrpStackLocationToNext(irp);
  if (channel()->hooked) {
    IoSetCompletionRoutine(irp, vrlPCSCReadComplete, nullptr, TRUE, TRUE, TRUE);
  }
  return IoCallDriver(kbdDeviceObj, irp);
}

}  // namespace k52::kbdchannel

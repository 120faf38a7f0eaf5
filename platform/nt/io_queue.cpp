// The device queue behind StartIo, and cancellation.
#include <atomic>

#include "platform/nt/object_manager.h"

namespace k52::nt {

namespace {

KSPIN_LOCK cancelSpinLock = 0;

// Runs StartIo at DISPATCH_LEVEL, as the I/O manager does.
void startIo(PDEVICE_OBJECT device, PIRP irp) {
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  if (device->DriverObject->DriverStartIo) device->DriverObject->DriverStartIo(device, irp);
  KeLowerIrql(old);
}

}  // namespace

void IoStartPacket(PDEVICE_OBJECT DeviceObject, PIRP Irp, PULONG, PDRIVER_CANCEL) {
  ObjectManager& objects = objectManager();
  {
    std::lock_guard lock(objects.mutex);
    if (DeviceObject->CurrentIrp != nullptr) {
      objects.record(DeviceObject)->packets.push_back(Irp);
      return;
    }
    DeviceObject->CurrentIrp = Irp;
    DeviceObject->DeviceQueue.Busy = TRUE;
  }
  startIo(DeviceObject, Irp);
}

void IoStartNextPacket(PDEVICE_OBJECT DeviceObject, BOOLEAN) {
  ObjectManager& objects = objectManager();
  PIRP next = nullptr;
  {
    std::lock_guard lock(objects.mutex);
    DeviceObject->CurrentIrp = nullptr;
    DEVOBJ_EXTENSION* record = objects.record(DeviceObject);
    if (record && !record->packets.empty()) {
      next = record->packets.front();
      record->packets.pop_front();
    }
    DeviceObject->CurrentIrp = next;
    DeviceObject->DeviceQueue.Busy = next ? TRUE : FALSE;
  }
  if (next) startIo(DeviceObject, next);
}

void IoAcquireCancelSpinLock(PKIRQL Irql) {
  KeAcquireSpinLock(&cancelSpinLock, Irql);
}

void IoReleaseCancelSpinLock(KIRQL Irql) {
  KeReleaseSpinLock(&cancelSpinLock, Irql);
}

PDRIVER_CANCEL IoSetCancelRoutine(PIRP Irp, PDRIVER_CANCEL CancelRoutine) {
  return std::atomic_ref<PDRIVER_CANCEL>(Irp->CancelRoutine).exchange(CancelRoutine);
}

BOOLEAN IoCancelIrp(PIRP Irp) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  Irp->Cancel = TRUE;
  PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, nullptr);
  if (routine == nullptr) {
    IoReleaseCancelSpinLock(irql);
    return FALSE;
  }
  Irp->CancelIrql = irql;
  PDEVICE_OBJECT device = Irp->CurrentLocation <= Irp->StackCount
                              ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject
                              : nullptr;
  // The routine releases the cancel spin lock with Irp->CancelIrql.
  routine(device, Irp);
  return TRUE;
}

}  // namespace k52::nt

// IRPs: allocation, stack locations, IoCallDriver and completion.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "platform/nt/object_manager.h"

namespace k52::nt {

namespace {

// What the I/O manager keeps beside each IRP.
struct IrpRecord {
  std::unique_ptr<IRP> irp;
  std::unique_ptr<IO_STACK_LOCATION[]> stack;
  // Set for requests the I/O manager built: they are finished (status
  // copied out, event signalled, freed) when their completion reaches the top.
  bool threaded = false;
  std::vector<std::max_align_t> systemBuffer;
  PVOID outputBuffer = nullptr;
  ULONG outputLength = 0;
  bool copyOutput = false;
  // Reads copy back on warnings too (STATUS_TIMEOUT with the bytes that came).
  bool copyUnlessError = false;
};

std::mutex& irpsLock() {
  static std::mutex lock;
  return lock;
}

std::map<PIRP, IrpRecord>& irps() {
  static std::map<PIRP, IrpRecord> records;
  return records;
}

IrpRecord& recordOf(PIRP irp, const char* call) {
  std::lock_guard lock(irpsLock());
  const auto it = irps().find(irp);
  if (it == irps().end()) throw std::logic_error(std::string(call) + " on an IRP that is not live");
  return it->second;
}

// Copies the result out and frees a built request whose completion is done.
void finish(PIRP irp, IrpRecord& record) {
  const bool error = (static_cast<std::uint32_t>(irp->IoStatus.Status) >> 30) == 3;
  if (record.copyOutput && (record.copyUnlessError ? !error : NT_SUCCESS(irp->IoStatus.Status))) {
    irp->IoStatus.Information = std::min<ULONG_PTR>(irp->IoStatus.Information, record.outputLength);
    std::memcpy(record.outputBuffer, record.systemBuffer.data(), irp->IoStatus.Information);
  }
  if (irp->UserIosb) *irp->UserIosb = irp->IoStatus;
  PKEVENT event = irp->UserEvent;
  IoFreeIrp(irp);
  if (event) KeSetEvent(event, IO_NO_INCREMENT, FALSE);
}

}  // namespace

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN) {
  if (StackSize < 1) return nullptr;
  IrpRecord record;
  record.irp = std::make_unique<IRP>();
  // One spare location below the lowest: a driver preparing a next location
  // that does not exist writes there, and IoCallDriver then refuses the call.
  record.stack = std::make_unique<IO_STACK_LOCATION[]>(StackSize + 1);
  PIRP irp = record.irp.get();
  irp->Type = 6;
  irp->Size = sizeof(IRP);
  irp->StackCount = StackSize;
  irp->CurrentLocation = static_cast<CCHAR>(StackSize + 1);
  irp->Tail.Overlay.CurrentStackLocation = record.stack.get() + 1 + StackSize;
  InitializeListHead(&irp->Tail.Overlay.ListEntry);
  std::lock_guard lock(irpsLock());
  irps().emplace(irp, std::move(record));
  return irp;
}

void IoFreeIrp(PIRP Irp) {
  std::lock_guard lock(irpsLock());
  if (irps().erase(Irp) == 0) throw std::logic_error("IoFreeIrp on an IRP that is not live");
}

PIRP buildSynchronousRequest(UCHAR major, PDEVICE_OBJECT device, PFILE_OBJECT file, PKEVENT event,
                             PIO_STATUS_BLOCK iosb) {
  PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
  if (irp == nullptr) return nullptr;
  recordOf(irp, "buildSynchronousRequest").threaded = true;
  irp->UserEvent = event;
  irp->UserIosb = iosb;
  irp->Tail.Overlay.OriginalFileObject = file;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = major;
  next->FileObject = file;
  return irp;
}

PIRP IoBuildDeviceIoControlRequest(ULONG IoControlCode, PDEVICE_OBJECT DeviceObject,
                                   PVOID InputBuffer, ULONG InputBufferLength, PVOID OutputBuffer,
                                   ULONG OutputBufferLength, BOOLEAN InternalDeviceIoControl,
                                   PKEVENT Event, PIO_STATUS_BLOCK IoStatusBlock) {
  if (DeviceObject == nullptr) return nullptr;
  if ((InputBufferLength > 0 && InputBuffer == nullptr) ||
      (OutputBufferLength > 0 && OutputBuffer == nullptr)) {
    return nullptr;
  }
  const UCHAR major =
      InternalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
  PIRP irp = buildSynchronousRequest(major, DeviceObject, nullptr, Event, IoStatusBlock);
  if (irp == nullptr) return nullptr;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->Parameters.DeviceIoControl.IoControlCode = IoControlCode;
  next->Parameters.DeviceIoControl.InputBufferLength = InputBufferLength;
  next->Parameters.DeviceIoControl.OutputBufferLength = OutputBufferLength;
  IrpRecord& record = recordOf(irp, "IoBuildDeviceIoControlRequest");
  if (METHOD_FROM_CTL_CODE(IoControlCode) == METHOD_NEITHER) {
    next->Parameters.DeviceIoControl.Type3InputBuffer = InputBuffer;
    irp->UserBuffer = OutputBuffer;
    return irp;
  }
  const std::size_t size = std::max(InputBufferLength, OutputBufferLength);
  if (size > 0) {
    record.systemBuffer.resize((size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
    if (InputBufferLength > 0) {
      std::memcpy(record.systemBuffer.data(), InputBuffer, InputBufferLength);
    }
    irp->AssociatedIrp.SystemBuffer = record.systemBuffer.data();
  }
  irp->UserBuffer = OutputBuffer;
  record.outputBuffer = OutputBuffer;
  record.outputLength = OutputBufferLength;
  record.copyOutput = OutputBufferLength > 0;
  return irp;
}

PIRP IoBuildSynchronousFsdRequest(ULONG MajorFunction, PDEVICE_OBJECT DeviceObject, PVOID Buffer,
                                  ULONG Length, PLARGE_INTEGER StartingOffset, PKEVENT Event,
                                  PIO_STATUS_BLOCK IoStatusBlock) {
  if (DeviceObject == nullptr || (Length > 0 && Buffer == nullptr)) return nullptr;
  if (MajorFunction != IRP_MJ_READ && MajorFunction != IRP_MJ_WRITE &&
      MajorFunction != IRP_MJ_FLUSH_BUFFERS) {
    return nullptr;
  }
  const auto major = static_cast<UCHAR>(MajorFunction);
  PIRP irp = buildSynchronousRequest(major, DeviceObject, nullptr, Event, IoStatusBlock);
  if (irp == nullptr) return nullptr;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  // Read and Write share their layout.
  next->Parameters.Read.Length = Length;
  if (StartingOffset) next->Parameters.Read.ByteOffset = *StartingOffset;
  irp->UserBuffer = Buffer;
  if (!(DeviceObject->Flags & DO_BUFFERED_IO) || Length == 0) return irp;
  IrpRecord& record = recordOf(irp, "IoBuildSynchronousFsdRequest");
  record.systemBuffer.resize((Length + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
  irp->AssociatedIrp.SystemBuffer = record.systemBuffer.data();
  if (major == IRP_MJ_WRITE) {
    std::memcpy(record.systemBuffer.data(), Buffer, Length);
  } else if (major == IRP_MJ_READ) {
    record.outputBuffer = Buffer;
    record.outputLength = Length;
    record.copyOutput = true;
    record.copyUnlessError = true;
  }
  return irp;
}

void IoCopyCurrentIrpStackLocationToNext(PIRP Irp) {
  PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(Irp);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
  std::memcpy(next, current, offsetof(IO_STACK_LOCATION, CompletionRoutine));
  next->Control = 0;
}

void IoSkipCurrentIrpStackLocation(PIRP Irp) {
  ++Irp->CurrentLocation;
  ++Irp->Tail.Overlay.CurrentStackLocation;
}

void IoSetCompletionRoutine(PIRP Irp, PIO_COMPLETION_ROUTINE CompletionRoutine, PVOID Context,
                            BOOLEAN InvokeOnSuccess, BOOLEAN InvokeOnError,
                            BOOLEAN InvokeOnCancel) {
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
  next->CompletionRoutine = CompletionRoutine;
  next->Context = Context;
  next->Control = 0;
  if (InvokeOnSuccess) next->Control |= SL_INVOKE_ON_SUCCESS;
  if (InvokeOnError) next->Control |= SL_INVOKE_ON_ERROR;
  if (InvokeOnCancel) next->Control |= SL_INVOKE_ON_CANCEL;
}

NTSTATUS IoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (Irp->CurrentLocation <= 1 || Irp->CurrentLocation > Irp->StackCount + 1) {
    throw std::logic_error("IoCallDriver: no stack location for the next driver");
  }
  --Irp->CurrentLocation;
  PIO_STACK_LOCATION stack = --Irp->Tail.Overlay.CurrentStackLocation;
  stack->DeviceObject = DeviceObject;
  PDRIVER_DISPATCH dispatch = stack->MajorFunction <= IRP_MJ_MAXIMUM_FUNCTION
                                  ? DeviceObject->DriverObject->MajorFunction[stack->MajorFunction]
                                  : invalidDeviceRequest;
  return dispatch(DeviceObject, Irp);
}

void IoCompleteRequest(PIRP Irp, CCHAR) {
  IrpRecord& record = recordOf(Irp, "IoCompleteRequest");
  if (Irp->CurrentLocation > Irp->StackCount) {
    throw std::logic_error("IoCompleteRequest: the IRP is not in a driver");
  }
  while (Irp->CurrentLocation <= Irp->StackCount) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    ++Irp->CurrentLocation;
    ++Irp->Tail.Overlay.CurrentStackLocation;
    Irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) ? TRUE : FALSE;
    const NTSTATUS status = Irp->IoStatus.Status;
    const bool invoke = stack->CompletionRoutine &&
                        ((NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_SUCCESS)) ||
                         (!NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_ERROR)) ||
                         (Irp->Cancel && (stack->Control & SL_INVOKE_ON_CANCEL)));
    const bool atTop = Irp->CurrentLocation > Irp->StackCount;
    if (invoke) {
      PDEVICE_OBJECT device = atTop ? nullptr : IoGetCurrentIrpStackLocation(Irp)->DeviceObject;
      const PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
      PVOID context = stack->Context;
      *stack = {};
      if (routine(device, Irp, context) == STATUS_MORE_PROCESSING_REQUIRED) return;
    } else {
      if (Irp->PendingReturned && !atTop) IoMarkIrpPending(Irp);
      *stack = {};
    }
  }
  if (record.threaded) finish(Irp, record);
}

NTSTATUS callAndWait(PDEVICE_OBJECT device, PIRP irp, PKEVENT event, PIO_STATUS_BLOCK iosb,
                     ULONG_PTR* information) {
  NTSTATUS status = IoCallDriver(device, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(event, Executive, KernelMode, FALSE, nullptr);
    status = iosb->Status;
  } else if (KeReadStateEvent(event) == 0) {
    // The driver returned without completing: nothing came back.
    iosb->Information = 0;
  }
  if (information) *information = iosb->Information;
  return status;
}

}  // namespace k52::nt

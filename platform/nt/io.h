// Io: driver and device objects, IRPs and the I/O manager calls, with the NT
// DDK names and signatures.
//
// Ownership. The I/O manager owns DRIVER_OBJECTs, DEVICE_OBJECTs (and their
// extensions), FILE_OBJECTs and the IRPs it builds; a driver owns the IRPs it
// allocates with IoAllocateIrp and frees them with IoFreeIrp. Names passed in
// UNICODE_STRINGs are copied. Every call reaches the current Kernel
// (kernel.h).
//
// Names compare case-insensitively. "\??\X" is the same as "\DosDevices\X".
// A symbolic link may point to another link.
#pragma once

#include <cstdint>

#include "platform/nt/ke.h"
#include "platform/nt/status.h"
#include "platform/nt/types.h"

namespace k52::nt {

// --- constants ---

inline constexpr UCHAR IRP_MJ_CREATE = 0x00;
inline constexpr UCHAR IRP_MJ_CLOSE = 0x02;
inline constexpr UCHAR IRP_MJ_READ = 0x03;
inline constexpr UCHAR IRP_MJ_WRITE = 0x04;
inline constexpr UCHAR IRP_MJ_FLUSH_BUFFERS = 0x09;
inline constexpr UCHAR IRP_MJ_DEVICE_CONTROL = 0x0E;
inline constexpr UCHAR IRP_MJ_INTERNAL_DEVICE_CONTROL = 0x0F;
inline constexpr UCHAR IRP_MJ_CLEANUP = 0x12;
inline constexpr UCHAR IRP_MJ_POWER = 0x16;
inline constexpr UCHAR IRP_MJ_PNP = 0x1B;
inline constexpr UCHAR IRP_MJ_MAXIMUM_FUNCTION = 0x1B;

inline constexpr ULONG METHOD_BUFFERED = 0;
inline constexpr ULONG METHOD_IN_DIRECT = 1;
inline constexpr ULONG METHOD_OUT_DIRECT = 2;
inline constexpr ULONG METHOD_NEITHER = 3;
inline constexpr ULONG FILE_ANY_ACCESS = 0;
inline constexpr ULONG FILE_READ_ACCESS = 1;
inline constexpr ULONG FILE_WRITE_ACCESS = 2;
inline constexpr ACCESS_MASK FILE_READ_DATA = 0x0001;
inline constexpr ACCESS_MASK FILE_ALL_ACCESS = 0x001F01FF;

inline constexpr DEVICE_TYPE FILE_DEVICE_KEYBOARD = 0x0B;
inline constexpr DEVICE_TYPE FILE_DEVICE_SMARTCARD = 0x31;
inline constexpr DEVICE_TYPE FILE_DEVICE_UNKNOWN = 0x22;

constexpr ULONG CTL_CODE(ULONG DeviceType, ULONG Function, ULONG Method, ULONG Access) {
  return (DeviceType << 16) | (Access << 14) | (Function << 2) | Method;
}
constexpr ULONG METHOD_FROM_CTL_CODE(ULONG code) {
  return code & 3;
}

inline constexpr ULONG DO_BUFFERED_IO = 0x00000004;
inline constexpr ULONG DO_EXCLUSIVE = 0x00000008;
inline constexpr ULONG DO_DIRECT_IO = 0x00000010;
inline constexpr ULONG DO_DEVICE_INITIALIZING = 0x00000080;

inline constexpr CCHAR IO_NO_INCREMENT = 0;
inline constexpr CCHAR IO_KEYBOARD_INCREMENT = 6;

inline constexpr UCHAR SL_PENDING_RETURNED = 0x01;
inline constexpr UCHAR SL_INVOKE_ON_CANCEL = 0x20;
inline constexpr UCHAR SL_INVOKE_ON_SUCCESS = 0x40;
inline constexpr UCHAR SL_INVOKE_ON_ERROR = 0x80;

// --- objects ---

struct DRIVER_OBJECT;
struct DEVICE_OBJECT;
struct IRP;
struct FILE_OBJECT;
// The I/O manager's private part of a device object.
struct DEVOBJ_EXTENSION;

using PDRIVER_OBJECT = DRIVER_OBJECT*;
using PDEVICE_OBJECT = DEVICE_OBJECT*;
using PIRP = IRP*;
using PFILE_OBJECT = FILE_OBJECT*;

using PDRIVER_DISPATCH = NTSTATUS (*)(PDEVICE_OBJECT DeviceObject, PIRP Irp);
using PDRIVER_STARTIO = void (*)(PDEVICE_OBJECT DeviceObject, PIRP Irp);
using PDRIVER_UNLOAD = void (*)(PDRIVER_OBJECT DriverObject);
using PDRIVER_CANCEL = void (*)(PDEVICE_OBJECT DeviceObject, PIRP Irp);
using PIO_COMPLETION_ROUTINE = NTSTATUS (*)(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context);
using PDRIVER_INITIALIZE = NTSTATUS (*)(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);

struct DRIVER_EXTENSION {
  PDRIVER_OBJECT DriverObject;
  UNICODE_STRING ServiceKeyName;
};

struct DRIVER_OBJECT {
  CSHORT Type;
  CSHORT Size;
  // The driver's devices, newest first, linked by NextDevice.
  PDEVICE_OBJECT DeviceObject;
  ULONG Flags;
  DRIVER_EXTENSION* DriverExtension;
  UNICODE_STRING DriverName;
  PDRIVER_INITIALIZE DriverInit;
  PDRIVER_STARTIO DriverStartIo;
  PDRIVER_UNLOAD DriverUnload;
  // Every entry starts as a routine that fails the request with
  // STATUS_INVALID_DEVICE_REQUEST.
  PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
};

// The device queue IoStartPacket keeps; Busy while CurrentIrp is in StartIo.
struct KDEVICE_QUEUE {
  CSHORT Type;
  CSHORT Size;
  LIST_ENTRY DeviceListHead;
  KSPIN_LOCK Lock;
  BOOLEAN Busy;
};

struct DEVICE_OBJECT {
  CSHORT Type;
  USHORT Size;
  LONG ReferenceCount;
  PDRIVER_OBJECT DriverObject;
  PDEVICE_OBJECT NextDevice;
  // The device attached on top of this one (a filter), or null.
  PDEVICE_OBJECT AttachedDevice;
  PIRP CurrentIrp;
  ULONG Flags;
  ULONG Characteristics;
  // sizeof extension bytes, zero-filled, aligned for any type; null for 0.
  PVOID DeviceExtension;
  DEVICE_TYPE DeviceType;
  CCHAR StackSize;
  KDEVICE_QUEUE DeviceQueue;
  ULONG AlignmentRequirement;
  DEVOBJ_EXTENSION* DeviceObjectExtension;
};

struct FILE_OBJECT {
  CSHORT Type;
  CSHORT Size;
  PDEVICE_OBJECT DeviceObject;
  PVOID FsContext;
  PVOID FsContext2;
};

struct IO_STATUS_BLOCK {
  NTSTATUS Status;
  ULONG_PTR Information;
};
using PIO_STATUS_BLOCK = IO_STATUS_BLOCK*;

struct IO_STACK_LOCATION {
  UCHAR MajorFunction;
  UCHAR MinorFunction;
  UCHAR Flags;
  UCHAR Control;
  union {
    struct {
      ULONG Length;
      ULONG Key;
      LARGE_INTEGER ByteOffset;
    } Read;
    struct {
      ULONG Length;
      ULONG Key;
      LARGE_INTEGER ByteOffset;
    } Write;
    struct {
      ULONG OutputBufferLength;
      ULONG InputBufferLength;
      ULONG IoControlCode;
      PVOID Type3InputBuffer;
    } DeviceIoControl;
    struct {
      PVOID Argument1;
      PVOID Argument2;
      PVOID Argument3;
      PVOID Argument4;
    } Others;
  } Parameters;
  PDEVICE_OBJECT DeviceObject;
  PFILE_OBJECT FileObject;
  PIO_COMPLETION_ROUTINE CompletionRoutine;
  PVOID Context;
};
using PIO_STACK_LOCATION = IO_STACK_LOCATION*;

struct IRP {
  CSHORT Type;
  USHORT Size;
  ULONG Flags;
  union {
    PVOID SystemBuffer;
  } AssociatedIrp;
  IO_STATUS_BLOCK IoStatus;
  KPROCESSOR_MODE RequestorMode;
  BOOLEAN PendingReturned;
  CCHAR StackCount;
  // StackCount + 1 before the first IoCallDriver, then the number of the
  // current stack location (1 = the lowest driver's).
  CCHAR CurrentLocation;
  BOOLEAN Cancel;
  KIRQL CancelIrql;
  PDRIVER_CANCEL CancelRoutine;
  // For requests built by IoBuildDeviceIoControlRequest: on completion the
  // status is copied to *UserIosb and *UserEvent is signalled.
  PIO_STATUS_BLOCK UserIosb;
  PKEVENT UserEvent;
  // METHOD_NEITHER output buffer, and where METHOD_BUFFERED output goes.
  PVOID UserBuffer;
  struct {
    struct {
      PVOID DriverContext[4];
      PKTHREAD Thread;
      LIST_ENTRY ListEntry;
      PIO_STACK_LOCATION CurrentStackLocation;
      PFILE_OBJECT OriginalFileObject;
    } Overlay;
  } Tail;
};

// --- devices and names ---

// Creates a device of DriverObject, with a zero-filled extension of
// DeviceExtensionSize bytes and, when DeviceName is not null, that name in
// the namespace. An Exclusive device takes one open file object at a time.
// The new device has StackSize 1 and DO_DEVICE_INITIALIZING set (cleared
// for devices created in DriverEntry when it returns). STATUS_OBJECT_NAME_
// COLLISION when the name is taken.
NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                        PUNICODE_STRING DeviceName, DEVICE_TYPE DeviceType,
                        ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                        PDEVICE_OBJECT* DeviceObject);
// Removes the device from the namespace and its driver's list, cancels
// timers and DPCs kept in its extension, and frees it once no file object
// refers to it. The caller detaches it first.
void IoDeleteDevice(PDEVICE_OBJECT DeviceObject);

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName);
NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName);

// Attaches SourceDevice on top of the stack of the device named TargetDevice
// (links resolved); *AttachedDevice receives the device it now sits on.
// STATUS_OBJECT_NAME_NOT_FOUND when there is no such device.
NTSTATUS IoAttachDevice(PDEVICE_OBJECT SourceDevice, PUNICODE_STRING TargetDevice,
                        PDEVICE_OBJECT* AttachedDevice);
// Attaches SourceDevice on top of TargetDevice's stack; returns the device
// it now sits on, null when TargetDevice is null.
PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice,
                                           PDEVICE_OBJECT TargetDevice);
// Detaches whatever is attached on top of TargetDevice.
void IoDetachDevice(PDEVICE_OBJECT TargetDevice);
// The top of the stack DeviceObject is part of.
PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT DeviceObject);

// Opens the device named ObjectName (links resolved): sends IRP_MJ_CREATE
// to the top of its stack and returns the new file object and that top
// device. Release with ObDereferenceObject(*FileObject). Fails with
// STATUS_OBJECT_NAME_NOT_FOUND, STATUS_SHARING_VIOLATION (an exclusive
// device already open) or the driver's create status. PASSIVE_LEVEL only.
NTSTATUS IoGetDeviceObjectPointer(PUNICODE_STRING ObjectName, ACCESS_MASK DesiredAccess,
                                  PFILE_OBJECT* FileObject, PDEVICE_OBJECT* DeviceObject);
// Releases a file object (sending IRP_MJ_CLEANUP and IRP_MJ_CLOSE) or a
// thread object reference. Other pointers are ignored.
void ObDereferenceObject(PVOID Object);

// --- IRPs ---

// A request with StackSize stack locations, owned by the caller until it
// passes it on; IoFreeIrp releases it.
PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN ChargeQuota);
void IoFreeIrp(PIRP Irp);

// A device control request for DeviceObject's stack, IRP_MJ_DEVICE_CONTROL
// or (InternalDeviceIoControl) IRP_MJ_INTERNAL_DEVICE_CONTROL. For
// METHOD_BUFFERED (and the direct methods) the input is copied into a
// system buffer of max(InputBufferLength, OutputBufferLength) bytes and,
// on successful completion, IoStatus.Information bytes (at most
// OutputBufferLength) are copied back to OutputBuffer. For METHOD_NEITHER
// the buffers are passed as they are. On completion the status goes to
// *IoStatusBlock, Event (may be null) is signalled and the IRP is freed:
// the caller must not touch it once it completed. The buffers and the
// event belong to the caller and must outlive the request.
PIRP IoBuildDeviceIoControlRequest(ULONG IoControlCode, PDEVICE_OBJECT DeviceObject,
                                   PVOID InputBuffer, ULONG InputBufferLength, PVOID OutputBuffer,
                                   ULONG OutputBufferLength, BOOLEAN InternalDeviceIoControl,
                                   PKEVENT Event, PIO_STATUS_BLOCK IoStatusBlock);

// A read, write or flush request (MajorFunction IRP_MJ_READ, IRP_MJ_WRITE or
// IRP_MJ_FLUSH_BUFFERS) of Length bytes at Buffer for DeviceObject's stack;
// StartingOffset (may be null) goes to ByteOffset. For a DO_BUFFERED_IO
// device the data travels in a system buffer: a write's bytes are copied in,
// a read's IoStatus.Information bytes are copied back to Buffer when the
// request completes with a status that is not an error (so also with
// STATUS_TIMEOUT); other devices get Buffer as UserBuffer. Completion is as
// for IoBuildDeviceIoControlRequest (*IoStatusBlock, Event, then the IRP is
// freed). Null for another major function or a null Buffer with a Length.
PIRP IoBuildSynchronousFsdRequest(ULONG MajorFunction, PDEVICE_OBJECT DeviceObject, PVOID Buffer,
                                  ULONG Length, PLARGE_INTEGER StartingOffset, PKEVENT Event,
                                  PIO_STATUS_BLOCK IoStatusBlock);

inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP Irp) {
  return Irp->Tail.Overlay.CurrentStackLocation;
}
inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP Irp) {
  return Irp->Tail.Overlay.CurrentStackLocation - 1;
}
// Gives the next driver the same parameters (not the completion routine).
void IoCopyCurrentIrpStackLocationToNext(PIRP Irp);
// Lets the next driver use the current stack location as its own.
void IoSkipCurrentIrpStackLocation(PIRP Irp);
// Sets the routine the next-lower location calls back on completion, for
// the outcomes selected.
void IoSetCompletionRoutine(PIRP Irp, PIO_COMPLETION_ROUTINE CompletionRoutine, PVOID Context,
                            BOOLEAN InvokeOnSuccess, BOOLEAN InvokeOnError, BOOLEAN InvokeOnCancel);
inline void IoMarkIrpPending(PIRP Irp) {
  IoGetCurrentIrpStackLocation(Irp)->Control |= SL_PENDING_RETURNED;
}

// Passes Irp to DeviceObject's driver with the next stack location; returns
// what its dispatch routine returns. Throws std::logic_error when the IRP
// has no stack location left (NT would stop the machine).
NTSTATUS IoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp);
// Completes Irp: runs the completion routines up the stack (stopping at one
// that returns STATUS_MORE_PROCESSING_REQUIRED), carries PendingReturned up,
// and finishes requests built by IoBuildDeviceIoControlRequest.
void IoCompleteRequest(PIRP Irp, CCHAR PriorityBoost);

// Sets Cancel, and calls the cancel routine if one is set (with the cancel
// spin lock held, which the routine releases). TRUE when a routine ran.
BOOLEAN IoCancelIrp(PIRP Irp);
// Sets Irp's cancel routine (null clears it); returns the previous one.
PDRIVER_CANCEL IoSetCancelRoutine(PIRP Irp, PDRIVER_CANCEL CancelRoutine);
void IoAcquireCancelSpinLock(PKIRQL Irql);
void IoReleaseCancelSpinLock(KIRQL Irql);

// Starts Irp in the driver's StartIo routine at DISPATCH_LEVEL when the
// device is idle (CurrentIrp null), else queues it. Key and CancelFunction
// are accepted and ignored.
void IoStartPacket(PDEVICE_OBJECT DeviceObject, PIRP Irp, PULONG Key,
                   PDRIVER_CANCEL CancelFunction);
// Ends the current packet: clears CurrentIrp and starts the next queued one.
void IoStartNextPacket(PDEVICE_OBJECT DeviceObject, BOOLEAN Cancelable);

// --- pool ---

enum POOL_TYPE { NonPagedPool = 0, PagedPool = 1 };
// NumberOfBytes of memory aligned for any type, or null; free with
// ExFreePool.
PVOID ExAllocatePool(POOL_TYPE PoolType, SIZE_T NumberOfBytes);
PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag);
void ExFreePool(PVOID P);

}  // namespace k52::nt

// The I/O manager on the virtual scheduler: names, opens, stacks of drivers
// and the life of an IRP.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/nt/ntddk.h"
#include "platform/nt/test_kernel.h"

namespace k52::nt {
namespace {

using namespace std::chrono_literals;

constexpr ULONG kReverse = CTL_CODE(0x8003, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kLater = CTL_CODE(0x8003, 0x802, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kOverclaim = CTL_CODE(0x8003, 0x803, METHOD_BUFFERED, FILE_ANY_ACCESS);

// A driver with one exclusive device, "\Device\Echo" with the link
// "\DosDevices\Echo": kReverse answers at once with the input reversed,
// kLater goes through StartIo and completes 10 ms later from a timer DPC.
struct EchoExtension {
  KTIMER timer;
  KDPC dpc;
  int creates;
  int closes;
};
PDEVICE_OBJECT echoDevice = nullptr;

NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

void echoLater(PKDPC, PVOID context, PVOID, PVOID) {
  auto* device = static_cast<PDEVICE_OBJECT>(context);
  PIRP irp = device->CurrentIrp;
  IoStartNextPacket(device, FALSE);
  complete(irp, STATUS_SUCCESS, 1);
}

void echoStartIo(PDEVICE_OBJECT device, PIRP) {
  auto* ext = static_cast<EchoExtension*>(device->DeviceExtension);
  LARGE_INTEGER due = relativeMs(10);
  KeSetTimer(&ext->timer, due, &ext->dpc);
}

NTSTATUS echoCreateClose(PDEVICE_OBJECT device, PIRP irp) {
  auto* ext = static_cast<EchoExtension*>(device->DeviceExtension);
  ++(IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_CREATE ? ext->creates
                                                                       : ext->closes);
  return complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS echoControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  auto* buffer = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
  const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case kReverse:
      if (stack->Parameters.DeviceIoControl.OutputBufferLength < in) {
        return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      }
      std::reverse(buffer, buffer + in);
      return complete(irp, STATUS_SUCCESS, in);
    case kLater:
      IoMarkIrpPending(irp);
      IoStartPacket(device, irp, nullptr, nullptr);
      return STATUS_PENDING;
    case kOverclaim:
      return complete(irp, STATUS_SUCCESS, 4096);
    default:
      return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

void echoUnload(PDRIVER_OBJECT) {
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, L"\\DosDevices\\Echo");
  IoDeleteSymbolicLink(&link);
  IoDeleteDevice(echoDevice);
}

NTSTATUS echoEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  driver->MajorFunction[IRP_MJ_CREATE] = echoCreateClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = echoCreateClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = echoCreateClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = echoControl;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = echoControl;
  driver->DriverStartIo = echoStartIo;
  driver->DriverUnload = echoUnload;
  UNICODE_STRING name;
  UNICODE_STRING link;
  RtlInitUnicodeString(&name, L"\\Device\\Echo");
  RtlInitUnicodeString(&link, L"\\DosDevices\\Echo");
  NTSTATUS status =
      IoCreateDevice(driver, sizeof(EchoExtension), &name, 0x8003, 0, TRUE, &echoDevice);
  if (!NT_SUCCESS(status)) return status;
  echoDevice->Flags |= DO_BUFFERED_IO;
  auto* ext = static_cast<EchoExtension*>(echoDevice->DeviceExtension);
  KeInitializeTimer(&ext->timer);
  KeInitializeDpc(&ext->dpc, echoLater, echoDevice);
  return IoCreateSymbolicLink(&link, &name);
}

class IoTest : public ::testing::Test {
 protected:
  IoTest() : kernel_(std::make_unique<VirtualScheduler>(1)) {
    EXPECT_EQ(kernel_.loadDriver(L"Echo", echoEntry), STATUS_SUCCESS);
  }
  EchoExtension* ext() { return static_cast<EchoExtension*>(echoDevice->DeviceExtension); }

  Kernel kernel_;
};

TEST_F(IoTest, DeviceControlThroughAUserHandle) {
  auto handle = kernel_.openDevice(L"\\\\.\\Echo");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(ext()->creates, 1);
  EXPECT_EQ(echoDevice->Flags & DO_DEVICE_INITIALIZING, 0u);
  const std::vector<std::uint8_t> in = {1, 2, 3};
  std::vector<std::uint8_t> out(8, 0xEE);
  auto result = handle->deviceIoControl(kReverse, in, out);
  EXPECT_EQ(result.status, STATUS_SUCCESS);
  EXPECT_EQ(result.bytesReturned, 3u);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{3, 2, 1, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  // The driver cannot make the manager write past the caller's buffer.
  result = handle->deviceIoControl(kOverclaim, {}, std::span(out).first(2));
  EXPECT_EQ(result.bytesReturned, 2u);
  EXPECT_EQ(handle->deviceIoControl(0x1234, in, out).status, STATUS_INVALID_DEVICE_REQUEST);
  handle.reset();
  EXPECT_EQ(ext()->closes, 2);  // cleanup and close
}

TEST_F(IoTest, PendingRequestsRunOneAtATimeThroughStartIo) {
  auto handle = kernel_.openDevice(L"\\Device\\Echo");
  ASSERT_NE(handle, nullptr);
  std::vector<Duration> done;
  for (int i = 0; i < 3; ++i) {
    kernel_.scheduler().startThread("client", [&] {
      std::uint8_t out[1];
      EXPECT_EQ(handle->deviceIoControl(kLater, {}, out).status, STATUS_SUCCESS);
      done.push_back(kernel_.scheduler().now());
    });
  }
  ASSERT_TRUE(kernel_.scheduler().runUntil([&] { return done.size() == 3; }, 1s));
  EXPECT_EQ(done, (std::vector<Duration>{10ms, 20ms, 30ms}));
}

TEST_F(IoTest, ExclusiveDeviceOpensOnceAtATime) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"\\??\\ECHO");
  PFILE_OBJECT file;
  PDEVICE_OBJECT device;
  ASSERT_EQ(IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &file, &device), STATUS_SUCCESS);
  EXPECT_EQ(device, echoDevice);
  PFILE_OBJECT second;
  EXPECT_EQ(IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &second, &device),
            STATUS_SHARING_VIOLATION);
  ObDereferenceObject(file);
  ASSERT_EQ(IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &second, &device), STATUS_SUCCESS);
  ObDereferenceObject(second);
}

TEST_F(IoTest, NamesAreUniqueAndLookupsFailCleanly) {
  NTSTATUS status;
  EXPECT_EQ(kernel_.openDevice(L"\\\\.\\Nothing", &status), nullptr);
  EXPECT_EQ(status, STATUS_OBJECT_NAME_NOT_FOUND);
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"\\Device\\echo");
  PDEVICE_OBJECT twin;
  EXPECT_EQ(IoCreateDevice(echoDevice->DriverObject, 0, &name, 0, 0, FALSE, &twin),
            STATUS_OBJECT_NAME_COLLISION);
  EXPECT_EQ(kernel_.loadDriver(L"Echo", echoEntry), STATUS_OBJECT_NAME_COLLISION);
}

TEST_F(IoTest, UnloadDeletesTheDeviceAndItsPendingTimer) {
  auto* timer = &ext()->timer;
  LARGE_INTEGER due = relativeMs(5);
  KeSetTimer(timer, due, &ext()->dpc);
  EXPECT_TRUE(kernel_.unloadDriver(L"Echo"));
  EXPECT_EQ(kernel_.findDevice(L"\\DosDevices\\Echo"), nullptr);
  // The timer lived in freed memory; it must not fire.
  EXPECT_TRUE(kernel_.scheduler().runUntilIdle(1s));
}

// A filter on top of the echo device, with a completion routine.
struct FilterState {
  PDEVICE_OBJECT filter = nullptr;
  PDEVICE_OBJECT lower = nullptr;
  bool holdCompletion = false;
  PIRP held = nullptr;
  std::vector<NTSTATUS> seen;
  std::vector<BOOLEAN> pendingReturned;
  std::vector<KIRQL> irqls;
} filterState;

NTSTATUS filterComplete(PDEVICE_OBJECT device, PIRP irp, PVOID) {
  EXPECT_EQ(device, filterState.filter);
  filterState.seen.push_back(irp->IoStatus.Status);
  filterState.pendingReturned.push_back(irp->PendingReturned);
  filterState.irqls.push_back(KeGetCurrentIrql());
  if (filterState.holdCompletion) {
    filterState.held = irp;
    return STATUS_MORE_PROCESSING_REQUIRED;
  }
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  return STATUS_SUCCESS;
}

NTSTATUS filterPass(PDEVICE_OBJECT, PIRP irp) {
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, filterComplete, nullptr, TRUE, TRUE, TRUE);
  return IoCallDriver(filterState.lower, irp);
}

NTSTATUS filterEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  for (auto& dispatch : driver->MajorFunction) dispatch = filterPass;
  NTSTATUS status =
      IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &filterState.filter);
  if (!NT_SUCCESS(status)) return status;
  UNICODE_STRING target;
  RtlInitUnicodeString(&target, L"\\Device\\Echo");
  return IoAttachDevice(filterState.filter, &target, &filterState.lower);
}

class FilterTest : public IoTest {
 protected:
  FilterTest() {
    filterState = {};
    EXPECT_EQ(kernel_.loadDriver(L"Filter", filterEntry), STATUS_SUCCESS);
  }
};

TEST_F(FilterTest, RequestsPassTheFilterAndCompleteThroughItsRoutine) {
  EXPECT_EQ(filterState.lower, echoDevice);
  EXPECT_EQ(echoDevice->AttachedDevice, filterState.filter);
  EXPECT_EQ(filterState.filter->StackSize, 2);
  auto handle = kernel_.openDevice(L"\\\\.\\Echo");
  ASSERT_NE(handle, nullptr);
  std::uint8_t out[1];
  EXPECT_EQ(handle->deviceIoControl(kLater, {}, out).status, STATUS_SUCCESS);
  EXPECT_EQ(handle->deviceIoControl(0x77, {}, out).status, STATUS_INVALID_DEVICE_REQUEST);
  // create, the pending request (completed from a DPC), the failing one
  EXPECT_EQ(filterState.seen,
            (std::vector<NTSTATUS>{STATUS_SUCCESS, STATUS_SUCCESS, STATUS_INVALID_DEVICE_REQUEST}));
  EXPECT_EQ(filterState.pendingReturned, (std::vector<BOOLEAN>{FALSE, TRUE, FALSE}));
  EXPECT_EQ(filterState.irqls[1], DISPATCH_LEVEL);
  IoDetachDevice(echoDevice);
  EXPECT_EQ(echoDevice->AttachedDevice, nullptr);
}

TEST_F(FilterTest, MoreProcessingRequiredStopsCompletionUntilCompletedAgain) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK iosb{};
  std::uint8_t in[2] = {1, 2};
  std::uint8_t out[2] = {};
  PIRP irp = IoBuildDeviceIoControlRequest(kReverse, filterState.filter, in, 2, out, 2, TRUE,
                                           &event, &iosb);
  ASSERT_NE(irp, nullptr);
  filterState.holdCompletion = true;
  IoCallDriver(filterState.filter, irp);
  ASSERT_EQ(filterState.held, irp);
  EXPECT_EQ(KeReadStateEvent(&event), 0);
  filterState.holdCompletion = false;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  EXPECT_EQ(KeReadStateEvent(&event), 1);
  EXPECT_EQ(iosb.Status, STATUS_SUCCESS);
  EXPECT_EQ(iosb.Information, 2u);
  EXPECT_EQ(out[0], 2);
  EXPECT_EQ(out[1], 1);
}

TEST_F(FilterTest, StackLocationFaultsAreCaught) {
  // Too few locations for the filter and the device below it.
  PIRP irp = IoAllocateIrp(1, FALSE);
  IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_FLUSH_BUFFERS;
  EXPECT_THROW(IoCallDriver(filterState.filter, irp), std::logic_error);
  IoFreeIrp(irp);
  // A location skipped that was never the caller's.
  irp = IoAllocateIrp(2, FALSE);
  IoSkipCurrentIrpStackLocation(irp);
  EXPECT_THROW(IoCallDriver(filterState.filter, irp), std::logic_error);
  IoFreeIrp(irp);
  EXPECT_THROW(IoCompleteRequest(irp, IO_NO_INCREMENT), std::logic_error);
  EXPECT_THROW(IoFreeIrp(irp), std::logic_error);
}

}  // namespace
}  // namespace k52::nt

#include "platform/nt/kbdclass/keyboard_class.h"

#include <algorithm>
#include <array>

#include "platform/nt/ntddkbd.h"

namespace k52::nt::kbdclass {
namespace {

constexpr USHORT kStatusPort = 0x64;
constexpr USHORT kDataPort = 0x60;
constexpr UCHAR kOutputFull = 0x01;
constexpr UCHAR kAuxData = 0x20;

struct ClassExtension {
  std::array<KEYBOARD_INPUT_DATA, kBufferRecords> buffer;
  std::size_t first;
  std::size_t count;
  USHORT pendingPrefix;  // KEY_E0 / KEY_E1 for the next record
  std::size_t dropped;
  KSPIN_LOCK lock;
};

PDEVICE_OBJECT classDevice = nullptr;

ClassExtension* extension() {
  return classDevice ? static_cast<ClassExtension*>(classDevice->DeviceExtension) : nullptr;
}

PUCHAR port(USHORT number) {
  return reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(number));
}

// Moves buffered records into `irp`'s buffer; the byte count it returns.
ULONG takeRecords(ClassExtension* ext, PIRP irp) {
  const ULONG room =
      IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length / sizeof(KEYBOARD_INPUT_DATA);
  auto* out = static_cast<PKEYBOARD_INPUT_DATA>(irp->AssociatedIrp.SystemBuffer);
  KIRQL irql;
  KeAcquireSpinLock(&ext->lock, &irql);
  const std::size_t n = std::min<std::size_t>(room, ext->count);
  for (std::size_t i = 0; i < n; ++i) {
    out[i] = ext->buffer[(ext->first + i) % kBufferRecords];
  }
  ext->first = (ext->first + n) % kBufferRecords;
  ext->count -= n;
  KeReleaseSpinLock(&ext->lock, irql);
  return static_cast<ULONG>(n * sizeof(KEYBOARD_INPUT_DATA));
}

NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_KEYBOARD_INCREMENT);
  return status;
}

NTSTATUS classRead(PDEVICE_OBJECT device, PIRP irp) {
  if (IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length < sizeof(KEYBOARD_INPUT_DATA)) {
    return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  }
  ClassExtension* ext = extension();
  if (ext->count > 0 && device->CurrentIrp == nullptr) {
    return complete(irp, STATUS_SUCCESS, takeRecords(ext, irp));
  }
  IoMarkIrpPending(irp);
  IoStartPacket(device, irp, nullptr, nullptr);
  return STATUS_PENDING;
}

// A read became current: serve it at once when records are waiting.
void classStartIo(PDEVICE_OBJECT device, PIRP irp) {
  ClassExtension* ext = extension();
  if (ext->count == 0) return;  // the next interrupt completes it
  IoStartNextPacket(device, FALSE);
  complete(irp, STATUS_SUCCESS, takeRecords(ext, irp));
}

NTSTATUS classCreateClose(PDEVICE_OBJECT, PIRP irp) {
  return complete(irp, STATUS_SUCCESS, 0);
}

void classUnload(PDRIVER_OBJECT) {
  CompleteWaitingRead(STATUS_CANCELLED);
  IoDeleteDevice(classDevice);
  classDevice = nullptr;
}

void appendRecord(ClassExtension* ext, UCHAR code) {
  KEYBOARD_INPUT_DATA record{};
  record.MakeCode = code & 0x7F;
  record.Flags = static_cast<USHORT>(((code & 0x80) ? KEY_BREAK : KEY_MAKE) | ext->pendingPrefix);
  ext->pendingPrefix = 0;
  KeAcquireSpinLockAtDpcLevel(&ext->lock);
  if (ext->count < kBufferRecords) {
    ext->buffer[(ext->first + ext->count) % kBufferRecords] = record;
    ++ext->count;
  } else {
    ++ext->dropped;
  }
  KeReleaseSpinLockFromDpcLevel(&ext->lock);
}

}  // namespace

NTSTATUS KeyboardClassEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  driver->MajorFunction[IRP_MJ_CREATE] = classCreateClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = classCreateClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = classCreateClose;
  driver->MajorFunction[IRP_MJ_READ] = classRead;
  driver->DriverStartIo = classStartIo;
  driver->DriverUnload = classUnload;
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, kClassDeviceName);
  const NTSTATUS status = IoCreateDevice(driver, sizeof(ClassExtension), &name,
                                         FILE_DEVICE_KEYBOARD, 0, FALSE, &classDevice);
  if (!NT_SUCCESS(status)) return status;
  classDevice->Flags |= DO_BUFFERED_IO;
  KeInitializeSpinLock(&extension()->lock);
  return STATUS_SUCCESS;
}

void KeyboardInterrupt() {
  ClassExtension* ext = extension();
  if (ext == nullptr) return;
  const UCHAR status = READ_PORT_UCHAR(port(kStatusPort));
  if (!(status & kOutputFull) || (status & kAuxData)) return;
  const UCHAR code = READ_PORT_UCHAR(port(kDataPort));
  if (code == 0xE0 || code == 0xE1) {
    ext->pendingPrefix = code == 0xE0 ? KEY_E0 : KEY_E1;
    return;
  }
  appendRecord(ext, code);
  if (PIRP waiting = classDevice->CurrentIrp) {
    IoStartNextPacket(classDevice, FALSE);
    complete(waiting, STATUS_SUCCESS, takeRecords(ext, waiting));
  }
}

void CompleteWaitingRead(NTSTATUS status) {
  if (classDevice == nullptr) return;
  if (PIRP waiting = classDevice->CurrentIrp) {
    IoStartNextPacket(classDevice, FALSE);
    complete(waiting, status, 0);
  }
}

std::size_t droppedRecords() {
  ClassExtension* ext = extension();
  return ext ? ext->dropped : 0;
}

}  // namespace k52::nt::kbdclass

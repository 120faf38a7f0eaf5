// The kernel's object namespace and the records behind the I/O objects.
// Internal to the kernel model; drivers see only the NT structures.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/nt/io.h"

namespace k52::nt {

struct DEVOBJ_EXTENSION {
  DEVICE_OBJECT device{};
  // The device this one is attached on top of, or null.
  PDEVICE_OBJECT attachedTo = nullptr;
  std::wstring name;  // normalized; empty for an unnamed device
  bool exclusive = false;
  int openFiles = 0;
  bool deletePending = false;
  std::unique_ptr<std::max_align_t[]> extension;
  std::size_t extensionSize = 0;
  // IRPs waiting for StartIo behind CurrentIrp.
  std::deque<PIRP> packets;
};

struct DriverRecord {
  DRIVER_OBJECT object{};
  DRIVER_EXTENSION extension{};
  std::wstring serviceName;
  std::wstring driverName;
  std::wstring registryPath;
};

// Every member is guarded by `mutex`; driver routines are never called with
// it held.
class ObjectManager {
 public:
  std::mutex mutex;
  std::map<PDEVICE_OBJECT, std::unique_ptr<DEVOBJ_EXTENSION>> devices;
  std::map<std::wstring, PDEVICE_OBJECT> names;
  std::map<std::wstring, std::wstring> links;
  std::map<PFILE_OBJECT, std::unique_ptr<FILE_OBJECT>> files;
  std::map<std::wstring, std::unique_ptr<DriverRecord>> drivers;

  // The device `name` (normalized) leads to, following links, or null.
  PDEVICE_OBJECT resolve(std::wstring name) const;
  // The record of a live device object, or null.
  DEVOBJ_EXTENSION* record(PDEVICE_OBJECT device) const;
  // Frees a device that is out of the namespace and has no open file.
  void release(PDEVICE_OBJECT device);
};

// Lower case, with "\??\" spelled "\DosDevices\".
std::wstring normalizeName(std::wstring_view name);
std::wstring toWide(PCUNICODE_STRING string);
ObjectManager& objectManager();

// Opens the device `name` leads to: checks exclusivity, sends IRP_MJ_CREATE
// to the top of its stack and makes the file object.
NTSTATUS openFile(std::wstring_view name, PFILE_OBJECT* file, PDEVICE_OBJECT* top);

// A request of the I/O manager for `device`'s stack with one prepared stack
// location (major function, file object); completion copies the status to
// *iosb, signals *event and frees it.
PIRP buildSynchronousRequest(UCHAR major, PDEVICE_OBJECT device, PFILE_OBJECT file, PKEVENT event,
                             PIO_STATUS_BLOCK iosb);

// Sends a built request and waits for it; returns its final status, with
// the bytes returned in *information when given.
NTSTATUS callAndWait(PDEVICE_OBJECT device, PIRP irp, PKEVENT event, PIO_STATUS_BLOCK iosb,
                     ULONG_PTR* information = nullptr);

// The dispatch routine every MajorFunction entry starts with.
NTSTATUS invalidDeviceRequest(PDEVICE_OBJECT device, PIRP irp);

}  // namespace k52::nt

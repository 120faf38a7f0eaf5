// The kernel model: the machine the drivers run on. It owns the scheduler,
// the object namespace (drivers, devices, symbolic links, file objects), the
// I/O bus and the registry source.
//
// One Kernel exists per process at a time; the NT calls reach it through
// Kernel::current(). A test sets one up, loads drivers and talks to them:
//
//   win32::TempDir dir;  // or any prefix whose system.reg holds the hive
//   Kernel kernel(std::make_unique<VirtualScheduler>(/*seed=*/1),
//                 win32::Prefix(dir.path()));
//   kernel.bus().map(0x60, 5, controllerModel);        // a PortDevice
//   kernel.loadDriver(L"vrlPCSC", DriverEntry);        // calls DriverEntry
//   kernel.scheduler().schedule(5ms, [&] { model.keyArrives(0xFE); },
//                               EventKind::Device);
//   auto handle = kernel.openDevice(L"\\\\.\\vrlPCSC");
//   auto result = handle->deviceIoControl(IOCTL_X, in, out);
//   kernel.scheduler().runFor(1s);
//   kernel.unloadDriver(L"vrlPCSC");
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/nt/hal.h"
#include "platform/nt/io.h"
#include "platform/nt/scheduler.h"
#include "platform/win32/registry.h"

namespace k52::nt {

// Where the machine's own settings live, below HKEY_LOCAL_MACHINE.
inline constexpr std::string_view kMachineSettingsKey = "Software\\k52kit";
inline constexpr std::string_view kTimeIncrementValue = "TimeIncrement";

class ObjectManager;
struct DriverRecord;

// A user-mode style handle to an open device, for tools and tests. Its
// calls block the calling thread (a simulated thread on a VirtualScheduler)
// until the driver completes the request. Closing it (destruction) sends
// IRP_MJ_CLEANUP and IRP_MJ_CLOSE.
class DeviceHandle {
 public:
  struct Result {
    NTSTATUS status;
    ULONG bytesReturned;  // output bytes the driver returned
  };

  // Requests go out as a user-mode caller's, with the caller's privilege.
  DeviceHandle(PFILE_OBJECT file, bool privileged) : file_(file), privileged_(privileged) {}
  ~DeviceHandle();
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;

  // IRP_MJ_DEVICE_CONTROL with `code` through the top of the device's stack.
  // `in` is copied in; up to out.size() bytes come back in `out`.
  Result deviceIoControl(ULONG code, std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

  PFILE_OBJECT file() const { return file_; }

 private:
  PFILE_OBJECT file_;
  bool privileged_;
};

class Kernel {
 public:
  // Becomes the current kernel. Without a prefix the registry is empty.
  // The clock tick comes from the machine's settings: HKLM "Software\k52kit"
  // "TimeIncrement" (REG_DWORD, 100 ns units, 10000 for 1 ms up to 156250 for
  // 15.625 ms); absent or out of range, the scheduler's own stays.
  // Throws std::logic_error when another Kernel exists.
  explicit Kernel(std::unique_ptr<Scheduler> scheduler,
                  std::optional<win32::Prefix> prefix = std::nullopt);
  // Ends the scheduler's threads first (see the schedulers), then frees
  // every object. Drivers are not unloaded: call unloadDriver() for that.
  ~Kernel();
  Kernel(const Kernel&) = delete;
  Kernel& operator=(const Kernel&) = delete;

  // The current kernel; throws std::logic_error when there is none.
  static Kernel& current();

  Scheduler& scheduler() { return *scheduler_; }
  IoBus& bus() { return bus_; }
  // The registry behind RtlQueryRegistryValues; null without a prefix.
  const win32::Registry* registry() const { return registry_ ? &*registry_ : nullptr; }

  // Creates the driver object "\Driver\<name>" and calls `entry` with it and
  // `registryPath` (by default the service key, "\Registry\Machine\System
  // \CurrentControlSet\Services\<name>") in the calling thread. Returns DriverEntry's status; on
  // failure the driver object is discarded. *driver (optional) receives the
  // driver object. STATUS_OBJECT_NAME_COLLISION when `name` is loaded.
  NTSTATUS loadDriver(std::wstring_view name, PDRIVER_INITIALIZE entry,
                      std::optional<std::wstring_view> registryPath = std::nullopt,
                      PDRIVER_OBJECT* driver = nullptr);
  // Calls the driver's DriverUnload. False when `name` is not loaded or has
  // no unload routine (it then stays loaded).
  bool unloadDriver(std::wstring_view name);

  // Opens a device by name: "\\.\X" means "\DosDevices\X"; other names
  // ("\Device\X") are used as they are. Null with *status set on failure.
  // A `privileged` caller passes SeSinglePrivilegeCheck (an administrator).
  std::unique_ptr<DeviceHandle> openDevice(std::wstring_view path, NTSTATUS* status = nullptr,
                                           bool privileged = false);

  // The device a name (device or link) leads to, or null.
  PDEVICE_OBJECT findDevice(std::wstring_view name);

  ObjectManager& objects() { return *objects_; }

 private:
  std::unique_ptr<Scheduler> scheduler_;
  std::optional<win32::Registry> registry_;
  IoBus bus_;
  std::unique_ptr<ObjectManager> objects_;
  std::vector<std::unique_ptr<DriverRecord>> unloadedDrivers_;
};

}  // namespace k52::nt

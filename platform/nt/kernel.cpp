#include "platform/nt/kernel.h"

#include "platform/nt/se.h"

#include <atomic>
#include <stdexcept>

#include "platform/nt/ke_internal.h"
#include "platform/nt/object_manager.h"

namespace k52::nt {

namespace {

std::atomic<Kernel*> currentKernel{nullptr};

constexpr std::wstring_view kServicesPath =
    L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\";

void setString(UNICODE_STRING& string, const std::wstring& text) {
  string.Buffer = const_cast<PWSTR>(text.c_str());
  string.Length = static_cast<USHORT>(text.size() * sizeof(WCHAR));
  string.MaximumLength = static_cast<USHORT>(string.Length + sizeof(WCHAR));
}

}  // namespace

Scheduler& currentScheduler() {
  return Kernel::current().scheduler();
}

Kernel::Kernel(std::unique_ptr<Scheduler> scheduler, std::optional<win32::Prefix> prefix)
    : scheduler_(std::move(scheduler)), objects_(std::make_unique<ObjectManager>()) {
  if (prefix) registry_.emplace(std::move(*prefix));
  if (registry_) {
    const auto increment =
        registry_->get(win32::RootKey::LocalMachine, kMachineSettingsKey, kTimeIncrementValue);
    if (increment && std::holds_alternative<std::uint32_t>(*increment)) {
      scheduler_->setTimeIncrement(std::get<std::uint32_t>(*increment));
    }
  }
  Kernel* expected = nullptr;
  if (!currentKernel.compare_exchange_strong(expected, this)) {
    throw std::logic_error("another Kernel exists");
  }
}

Kernel::~Kernel() {
  // Threads unwind while the kernel is still current: their unwinding may
  // still call into it.
  scheduler_->shutdown();
  scheduler_.reset();
  clearDispatcherObjects();
  currentKernel = nullptr;
}

Kernel& Kernel::current() {
  Kernel* kernel = currentKernel.load();
  if (kernel == nullptr) throw std::logic_error("no Kernel exists");
  return *kernel;
}

NTSTATUS Kernel::loadDriver(std::wstring_view name, PDRIVER_INITIALIZE entry,
                            std::optional<std::wstring_view> registryPath, PDRIVER_OBJECT* driver) {
  const std::wstring key = normalizeName(name);
  auto record = std::make_unique<DriverRecord>();
  record->serviceName = name;
  record->driverName = L"\\Driver\\" + std::wstring(name);
  record->registryPath =
      registryPath ? std::wstring(*registryPath) : std::wstring(kServicesPath) + std::wstring(name);
  DRIVER_OBJECT& object = record->object;
  object.Type = 4;
  object.Size = sizeof(DRIVER_OBJECT);
  object.DriverExtension = &record->extension;
  object.DriverInit = entry;
  record->extension.DriverObject = &object;
  setString(record->extension.ServiceKeyName, record->serviceName);
  setString(object.DriverName, record->driverName);
  for (auto& dispatch : object.MajorFunction) dispatch = invalidDeviceRequest;
  {
    std::lock_guard lock(objects_->mutex);
    if (objects_->drivers.count(key)) return STATUS_OBJECT_NAME_COLLISION;
  }
  UNICODE_STRING path;
  setString(path, record->registryPath);
  const NTSTATUS status = entry(&object, &path);
  if (!NT_SUCCESS(status)) return status;
  for (PDEVICE_OBJECT device = object.DeviceObject; device; device = device->NextDevice) {
    device->Flags &= ~DO_DEVICE_INITIALIZING;
  }
  if (driver) *driver = &object;
  std::lock_guard lock(objects_->mutex);
  objects_->drivers.emplace(key, std::move(record));
  return status;
}

bool Kernel::unloadDriver(std::wstring_view name) {
  PDRIVER_OBJECT driver;
  {
    std::lock_guard lock(objects_->mutex);
    const auto it = objects_->drivers.find(normalizeName(name));
    if (it == objects_->drivers.end() || it->second->object.DriverUnload == nullptr) return false;
    driver = &it->second->object;
  }
  driver->DriverUnload(driver);
  // The driver object stays allocated: file objects or attached devices of
  // other drivers may still point at it.
  std::lock_guard lock(objects_->mutex);
  auto node = objects_->drivers.extract(normalizeName(name));
  unloadedDrivers_.push_back(std::move(node.mapped()));
  return true;
}

std::unique_ptr<DeviceHandle> Kernel::openDevice(std::wstring_view path, NTSTATUS* status,
                                                 bool privileged) {
  constexpr std::wstring_view kLocal = L"\\\\.\\";
  std::wstring name(path);
  if (name.starts_with(kLocal)) name = L"\\DosDevices\\" + name.substr(kLocal.size());
  PFILE_OBJECT file = nullptr;
  PDEVICE_OBJECT top = nullptr;
  const NTSTATUS result = openFile(name, &file, &top);
  if (status) *status = result;
  if (!NT_SUCCESS(result)) return nullptr;
  return std::make_unique<DeviceHandle>(file, privileged);
}

PDEVICE_OBJECT Kernel::findDevice(std::wstring_view name) {
  std::lock_guard lock(objects_->mutex);
  return objects_->resolve(normalizeName(name));
}

DeviceHandle::~DeviceHandle() {
  ObDereferenceObject(file_);
}

DeviceHandle::Result DeviceHandle::deviceIoControl(ULONG code, std::span<const std::uint8_t> in,
                                                   std::span<std::uint8_t> out) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK iosb{};
  PDEVICE_OBJECT top = IoGetAttachedDevice(file_->DeviceObject);
  PIRP irp = IoBuildDeviceIoControlRequest(code, top, const_cast<std::uint8_t*>(in.data()),
                                           static_cast<ULONG>(in.size()), out.data(),
                                           static_cast<ULONG>(out.size()), FALSE, &event, &iosb);
  if (irp == nullptr) return {STATUS_INSUFFICIENT_RESOURCES, 0};
  IoGetNextIrpStackLocation(irp)->FileObject = file_;
  irp->Tail.Overlay.OriginalFileObject = file_;
  irp->RequestorMode = UserMode;
  const UserModeCaller caller(privileged_);
  ULONG_PTR information = 0;
  const NTSTATUS status = callAndWait(top, irp, &event, &iosb, &information);
  return {status, static_cast<ULONG>(information)};
}

}  // namespace k52::nt

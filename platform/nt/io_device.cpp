// Device objects, names, symbolic links and device stacks.
#include <cstring>

#include "platform/nt/ke_internal.h"
#include "platform/nt/object_manager.h"

namespace k52::nt {

namespace {

// Sizes in max_align_t units, so that any extension type fits aligned.
std::size_t alignedUnits(std::size_t bytes) {
  return (bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
}

void unlinkFromDriver(PDEVICE_OBJECT device) {
  PDRIVER_OBJECT driver = device->DriverObject;
  for (PDEVICE_OBJECT* link = &driver->DeviceObject; *link; link = &(*link)->NextDevice) {
    if (*link == device) {
      *link = device->NextDevice;
      return;
    }
  }
}

}  // namespace

NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                        PUNICODE_STRING DeviceName, DEVICE_TYPE DeviceType,
                        ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                        PDEVICE_OBJECT* DeviceObject) {
  if (DriverObject == nullptr || DeviceObject == nullptr) return STATUS_INVALID_PARAMETER;
  ObjectManager& objects = objectManager();
  auto record = std::make_unique<DEVOBJ_EXTENSION>();
  const std::wstring name = DeviceName ? normalizeName(toWide(DeviceName)) : std::wstring();
  if (DeviceExtensionSize > 0) {
    const std::size_t units = alignedUnits(DeviceExtensionSize);
    record->extension = std::make_unique<std::max_align_t[]>(units);
    std::memset(record->extension.get(), 0, units * sizeof(std::max_align_t));
    record->extensionSize = DeviceExtensionSize;
  }
  record->name = name;
  record->exclusive = Exclusive != FALSE;
  DEVICE_OBJECT& device = record->device;
  device.Type = 3;
  device.Size = sizeof(DEVICE_OBJECT);
  device.ReferenceCount = 0;
  device.DriverObject = DriverObject;
  device.DeviceExtension = record->extension.get();
  device.DeviceType = DeviceType;
  device.Characteristics = DeviceCharacteristics;
  device.StackSize = 1;
  device.Flags = DO_DEVICE_INITIALIZING | (Exclusive ? DO_EXCLUSIVE : 0);
  device.DeviceObjectExtension = record.get();
  InitializeListHead(&device.DeviceQueue.DeviceListHead);

  std::lock_guard lock(objects.mutex);
  if (!name.empty()) {
    if (objects.names.count(name) || objects.links.count(name)) {
      return STATUS_OBJECT_NAME_COLLISION;
    }
    objects.names[name] = &device;
  }
  device.NextDevice = DriverObject->DeviceObject;
  DriverObject->DeviceObject = &device;
  *DeviceObject = &device;
  objects.devices.emplace(&device, std::move(record));
  return STATUS_SUCCESS;
}

void IoDeleteDevice(PDEVICE_OBJECT DeviceObject) {
  ObjectManager& objects = objectManager();
  void* extension = nullptr;
  std::size_t extensionSize = 0;
  {
    std::lock_guard lock(objects.mutex);
    DEVOBJ_EXTENSION* record = objects.record(DeviceObject);
    if (record == nullptr || record->deletePending) return;
    if (!record->name.empty()) objects.names.erase(record->name);
    unlinkFromDriver(DeviceObject);
    // Still attached: take it off the stack rather than leave the lower
    // device pointing at freed memory.
    if (record->attachedTo) record->attachedTo->AttachedDevice = nullptr;
    if (DeviceObject->AttachedDevice) {
      if (auto* upper = objects.record(DeviceObject->AttachedDevice)) upper->attachedTo = nullptr;
    }
    extension = record->extension.get();
    extensionSize = record->extensionSize;
    record->deletePending = true;
  }
  if (extension) forgetDispatcherObjects(extension, extensionSize);
  std::lock_guard lock(objects.mutex);
  if (DEVOBJ_EXTENSION* record = objects.record(DeviceObject); record && record->openFiles == 0) {
    objects.release(DeviceObject);
  }
}

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName) {
  const std::wstring link = normalizeName(toWide(SymbolicLinkName));
  if (link.empty()) return STATUS_INVALID_PARAMETER;
  ObjectManager& objects = objectManager();
  std::lock_guard lock(objects.mutex);
  if (objects.links.count(link) || objects.names.count(link)) return STATUS_OBJECT_NAME_COLLISION;
  objects.links[link] = normalizeName(toWide(DeviceName));
  return STATUS_SUCCESS;
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName) {
  ObjectManager& objects = objectManager();
  std::lock_guard lock(objects.mutex);
  return objects.links.erase(normalizeName(toWide(SymbolicLinkName)))
             ? STATUS_SUCCESS
             : STATUS_OBJECT_NAME_NOT_FOUND;
}

PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT DeviceObject) {
  while (DeviceObject->AttachedDevice) DeviceObject = DeviceObject->AttachedDevice;
  return DeviceObject;
}

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice,
                                           PDEVICE_OBJECT TargetDevice) {
  if (SourceDevice == nullptr || TargetDevice == nullptr) return nullptr;
  ObjectManager& objects = objectManager();
  std::lock_guard lock(objects.mutex);
  DEVOBJ_EXTENSION* source = objects.record(SourceDevice);
  if (source == nullptr || source->attachedTo) return nullptr;
  PDEVICE_OBJECT top = IoGetAttachedDevice(TargetDevice);
  if (top == SourceDevice) return nullptr;
  top->AttachedDevice = SourceDevice;
  source->attachedTo = top;
  SourceDevice->StackSize = static_cast<CCHAR>(top->StackSize + 1);
  return top;
}

NTSTATUS IoAttachDevice(PDEVICE_OBJECT SourceDevice, PUNICODE_STRING TargetDevice,
                        PDEVICE_OBJECT* AttachedDevice) {
  if (AttachedDevice == nullptr) return STATUS_INVALID_PARAMETER;
  PDEVICE_OBJECT target;
  {
    ObjectManager& objects = objectManager();
    std::lock_guard lock(objects.mutex);
    target = objects.resolve(normalizeName(toWide(TargetDevice)));
  }
  if (target == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
  PDEVICE_OBJECT top = IoAttachDeviceToDeviceStack(SourceDevice, target);
  if (top == nullptr) return STATUS_INVALID_PARAMETER;
  *AttachedDevice = top;
  return STATUS_SUCCESS;
}

void IoDetachDevice(PDEVICE_OBJECT TargetDevice) {
  ObjectManager& objects = objectManager();
  std::lock_guard lock(objects.mutex);
  PDEVICE_OBJECT upper = TargetDevice->AttachedDevice;
  if (upper == nullptr) return;
  if (DEVOBJ_EXTENSION* record = objects.record(upper)) record->attachedTo = nullptr;
  TargetDevice->AttachedDevice = nullptr;
}

}  // namespace k52::nt

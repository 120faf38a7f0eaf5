// File objects: opening devices and closing them again.
#include "platform/nt/object_manager.h"
#include "platform/nt/ps.h"

namespace k52::nt {

namespace {

// Sends a create, cleanup or close request for `file` and waits for it.
NTSTATUS sendFileRequest(UCHAR major, PDEVICE_OBJECT top, PFILE_OBJECT file) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK iosb{};
  PIRP irp = buildSynchronousRequest(major, top, file, &event, &iosb);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  return callAndWait(top, irp, &event, &iosb);
}

}  // namespace

NTSTATUS openFile(std::wstring_view name, PFILE_OBJECT* file, PDEVICE_OBJECT* top) {
  ObjectManager& objects = objectManager();
  auto object = std::make_unique<FILE_OBJECT>();
  PDEVICE_OBJECT device;
  PDEVICE_OBJECT stackTop;
  {
    std::lock_guard lock(objects.mutex);
    device = objects.resolve(normalizeName(name));
    if (device == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
    DEVOBJ_EXTENSION* record = objects.record(device);
    if (record->exclusive && record->openFiles > 0) return STATUS_SHARING_VIOLATION;
    ++record->openFiles;
    stackTop = IoGetAttachedDevice(device);
  }
  object->Type = 5;
  object->Size = sizeof(FILE_OBJECT);
  object->DeviceObject = device;
  const NTSTATUS status = sendFileRequest(IRP_MJ_CREATE, stackTop, object.get());
  std::lock_guard lock(objects.mutex);
  if (!NT_SUCCESS(status)) {
    DEVOBJ_EXTENSION* record = objects.record(device);
    if (--record->openFiles == 0 && record->deletePending) objects.release(device);
    return status;
  }
  *file = object.get();
  *top = stackTop;
  objects.files.emplace(object.get(), std::move(object));
  return STATUS_SUCCESS;
}

NTSTATUS IoGetDeviceObjectPointer(PUNICODE_STRING ObjectName, ACCESS_MASK, PFILE_OBJECT* FileObject,
                                  PDEVICE_OBJECT* DeviceObject) {
  if (ObjectName == nullptr || FileObject == nullptr || DeviceObject == nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  return openFile(toWide(ObjectName), FileObject, DeviceObject);
}

void ObDereferenceObject(PVOID Object) {
  ObjectManager& objects = objectManager();
  std::unique_ptr<FILE_OBJECT> file;
  {
    std::lock_guard lock(objects.mutex);
    const auto it = objects.files.find(static_cast<PFILE_OBJECT>(Object));
    if (it == objects.files.end()) return;  // a thread object, or nothing we made
    file = std::move(it->second);
    objects.files.erase(it);
  }
  PDEVICE_OBJECT top = IoGetAttachedDevice(file->DeviceObject);
  sendFileRequest(IRP_MJ_CLEANUP, top, file.get());
  sendFileRequest(IRP_MJ_CLOSE, top, file.get());
  std::lock_guard lock(objects.mutex);
  DEVOBJ_EXTENSION* record = objects.record(file->DeviceObject);
  if (record && --record->openFiles == 0 && record->deletePending) {
    objects.release(file->DeviceObject);
  }
}

}  // namespace k52::nt

#include "platform/nt/object_manager.h"

#include <cwctype>

#include "platform/nt/kernel.h"

namespace k52::nt {

namespace {

// A chain of links longer than this is a loop.
constexpr int kMaxLinkDepth = 32;

}  // namespace

std::wstring normalizeName(std::wstring_view name) {
  std::wstring result;
  result.reserve(name.size());
  for (wchar_t c : name) result.push_back(static_cast<wchar_t>(std::towlower(c)));
  constexpr std::wstring_view kShort = L"\\??\\";
  if (result.starts_with(kShort)) result.replace(0, kShort.size(), L"\\dosdevices\\");
  return result;
}

std::wstring toWide(PCUNICODE_STRING string) {
  if (string == nullptr || string->Buffer == nullptr) return {};
  return std::wstring(string->Buffer, string->Length / sizeof(WCHAR));
}

ObjectManager& objectManager() {
  return Kernel::current().objects();
}

PDEVICE_OBJECT ObjectManager::resolve(std::wstring name) const {
  for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
    const auto link = links.find(name);
    if (link == links.end()) break;
    name = link->second;
  }
  const auto device = names.find(name);
  return device == names.end() ? nullptr : device->second;
}

DEVOBJ_EXTENSION* ObjectManager::record(PDEVICE_OBJECT device) const {
  const auto it = devices.find(device);
  return it == devices.end() ? nullptr : it->second.get();
}

void ObjectManager::release(PDEVICE_OBJECT device) {
  devices.erase(device);
}

NTSTATUS invalidDeviceRequest(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_INVALID_DEVICE_REQUEST;
}

}  // namespace k52::nt

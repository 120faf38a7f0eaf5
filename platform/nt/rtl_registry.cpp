// RtlQueryRegistryValues over the prefix's HKLM hive.
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

#include "platform/nt/io.h"
#include "platform/nt/kernel.h"
#include "platform/nt/rtl.h"

namespace k52::nt {

namespace {

constexpr std::wstring_view kMachineRoot = L"\\registry\\machine\\";
constexpr std::string_view kServicesKey = "System\\CurrentControlSet\\Services";

// UTF-8, the hive files' encoding.
std::string narrow(std::wstring_view wide) {
  std::string out;
  for (wchar_t wc : wide) {
    const auto c = static_cast<std::uint32_t>(wc);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::wstring widen(std::string_view utf8) {
  std::wstring out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    std::uint32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) {
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    out.push_back(static_cast<wchar_t>(c));
    i += 1 + extra;
  }
  return out;
}

// The HKLM key path a query names, or nullopt when it is outside HKLM.
std::optional<std::string> machineKey(ULONG relativeTo, PCWSTR path) {
  const std::wstring_view given = path ? std::wstring_view(path) : std::wstring_view();
  switch (relativeTo & ~RTL_REGISTRY_OPTIONAL) {
    case RTL_REGISTRY_ABSOLUTE: {
      std::wstring lower;
      for (wchar_t c : given.substr(0, kMachineRoot.size())) {
        lower.push_back(static_cast<wchar_t>(std::towlower(c)));
      }
      if (lower != kMachineRoot) return std::nullopt;
      return narrow(given.substr(kMachineRoot.size()));
    }
    case RTL_REGISTRY_SERVICES:
      return given.empty() ? std::string(kServicesKey)
                           : std::string(kServicesKey) + "\\" + narrow(given);
    default:
      return std::nullopt;
  }
}

// One value as the query hands it on.
struct Value {
  ULONG type = REG_NONE;
  std::vector<std::uint8_t> bytes;  // REG_SZ: the wide string with its NUL
};

std::optional<Value> fromRegistry(const win32::RegValue& stored) {
  Value value;
  if (const auto* dword = std::get_if<std::uint32_t>(&stored)) {
    value.type = REG_DWORD;
    value.bytes.resize(sizeof(ULONG));
    std::memcpy(value.bytes.data(), dword, sizeof(ULONG));
  } else if (const auto* text = std::get_if<std::string>(&stored)) {
    const std::wstring wide = widen(*text);
    value.type = REG_SZ;
    value.bytes.resize((wide.size() + 1) * sizeof(WCHAR));
    std::memcpy(value.bytes.data(), wide.c_str(), value.bytes.size());
  } else {
    value.type = REG_BINARY;
    value.bytes = std::get<std::vector<std::uint8_t>>(stored);
  }
  return value;
}

std::optional<Value> defaultOf(const RTL_QUERY_REGISTRY_TABLE& entry) {
  if (entry.DefaultType == REG_NONE || entry.DefaultData == nullptr) return std::nullopt;
  Value value;
  value.type = entry.DefaultType;
  const auto* data = static_cast<const std::uint8_t*>(entry.DefaultData);
  std::size_t length = entry.DefaultLength;
  if (entry.DefaultType == REG_DWORD) {
    length = sizeof(ULONG);
  } else if (entry.DefaultType == REG_SZ && length == 0) {
    length = (std::wcslen(static_cast<PCWSTR>(entry.DefaultData)) + 1) * sizeof(WCHAR);
  }
  value.bytes.assign(data, data + length);
  return value;
}

NTSTATUS storeDirect(const RTL_QUERY_REGISTRY_TABLE& entry, const Value& value) {
  if (entry.EntryContext == nullptr) return STATUS_INVALID_PARAMETER;
  if (value.type == REG_DWORD) {
    std::memcpy(entry.EntryContext, value.bytes.data(), sizeof(ULONG));
    return STATUS_SUCCESS;
  }
  if (value.type != REG_SZ) return STATUS_NOT_SUPPORTED;
  auto* string = static_cast<PUNICODE_STRING>(entry.EntryContext);
  const std::size_t size = value.bytes.size();  // with the NUL
  if (size > 0xFFFF) return STATUS_BUFFER_TOO_SMALL;
  if (string->Buffer == nullptr) {
    string->Buffer = static_cast<PWSTR>(ExAllocatePool(PagedPool, size));
    if (string->Buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    string->MaximumLength = static_cast<USHORT>(size);
  } else if (string->MaximumLength < size) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  std::memcpy(string->Buffer, value.bytes.data(), size);
  string->Length = static_cast<USHORT>(size - sizeof(WCHAR));
  return STATUS_SUCCESS;
}

NTSTATUS deliver(const RTL_QUERY_REGISTRY_TABLE& entry, Value value, PVOID context) {
  if (entry.Flags & RTL_QUERY_REGISTRY_DIRECT) return storeDirect(entry, value);
  return entry.QueryRoutine(entry.Name, value.type, value.bytes.data(),
                            static_cast<ULONG>(value.bytes.size()), context, entry.EntryContext);
}

}  // namespace

NTSTATUS RtlQueryRegistryValues(ULONG RelativeTo, PCWSTR Path, PRTL_QUERY_REGISTRY_TABLE QueryTable,
                                PVOID Context, PVOID) {
  if (QueryTable == nullptr) return STATUS_INVALID_PARAMETER;
  const std::optional<std::string> base = machineKey(RelativeTo, Path);
  if (!base) return STATUS_INVALID_PARAMETER;
  const win32::Registry* registry = Kernel::current().registry();
  const auto root = win32::RootKey::LocalMachine;
  if (registry == nullptr || !registry->hasKey(root, *base)) return STATUS_OBJECT_NAME_NOT_FOUND;

  std::string key = *base;
  for (auto* entry = QueryTable; entry->QueryRoutine != nullptr || entry->Name != nullptr;
       ++entry) {
    if (entry->Flags & RTL_QUERY_REGISTRY_TOPKEY) key = *base;
    if (entry->Flags & RTL_QUERY_REGISTRY_SUBKEY) {
      if (entry->Name == nullptr) return STATUS_INVALID_PARAMETER;
      key = *base + "\\" + narrow(entry->Name);
      if (!registry->hasKey(root, key)) return STATUS_OBJECT_NAME_NOT_FOUND;
      continue;
    }
    // Enumerating every value of a key is not supported.
    if (entry->Name == nullptr) return STATUS_INVALID_PARAMETER;
    if (!(entry->Flags & RTL_QUERY_REGISTRY_DIRECT) && entry->QueryRoutine == nullptr) {
      return STATUS_INVALID_PARAMETER;
    }
    std::optional<Value> value;
    if (auto stored = registry->get(root, key, narrow(entry->Name))) value = fromRegistry(*stored);
    if (value && entry->DefaultType != REG_NONE && value->type != entry->DefaultType) {
      value.reset();
    }
    if (!value) {
      if (entry->Flags & RTL_QUERY_REGISTRY_REQUIRED) return STATUS_OBJECT_NAME_NOT_FOUND;
      value = defaultOf(*entry);
      if (!value) continue;
    }
    const NTSTATUS status = deliver(*entry, std::move(*value), Context);
    if (!NT_SUCCESS(status)) return status;
  }
  return STATUS_SUCCESS;
}

}  // namespace k52::nt

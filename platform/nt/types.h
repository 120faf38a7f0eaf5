// The basic NT kernel types and constants, under their DDK names, so that
// driver code written against this model reads like an NT driver.
//
// WCHAR is the host's wchar_t: wide literals are written L"..." as usual, and
// UNICODE_STRING lengths count bytes of wchar_t.
#pragma once

#include <cstddef>
#include <cstdint>

namespace k52::nt {

using CHAR = char;
using CCHAR = char;
using UCHAR = std::uint8_t;
using CSHORT = std::int16_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using ULONG_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using SIZE_T = std::size_t;
using BOOLEAN = UCHAR;
using WCHAR = wchar_t;
using PVOID = void*;
using HANDLE = void*;
using PHANDLE = HANDLE*;
using PUCHAR = UCHAR*;
using PUSHORT = USHORT*;
using PULONG = ULONG*;
using PLONG = LONG*;
using PWSTR = WCHAR*;
using PCWSTR = const WCHAR*;
using PCHAR = CHAR*;
using ACCESS_MASK = ULONG;
using DEVICE_TYPE = ULONG;
using KIRQL = UCHAR;
using PKIRQL = KIRQL*;
using KPRIORITY = LONG;
using KPROCESSOR_MODE = CCHAR;

inline constexpr BOOLEAN TRUE = 1;
inline constexpr BOOLEAN FALSE = 0;

inline constexpr KIRQL PASSIVE_LEVEL = 0;
inline constexpr KIRQL APC_LEVEL = 1;
inline constexpr KIRQL DISPATCH_LEVEL = 2;

inline constexpr KPROCESSOR_MODE KernelMode = 0;
inline constexpr KPROCESSOR_MODE UserMode = 1;

union LARGE_INTEGER {
  struct {
    ULONG LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};
using PLARGE_INTEGER = LARGE_INTEGER*;
using PHYSICAL_ADDRESS = LARGE_INTEGER;
using PPHYSICAL_ADDRESS = PHYSICAL_ADDRESS*;

// A counted wide string. Length and MaximumLength are in bytes; Buffer need
// not be NUL-terminated and belongs to whoever set it up.
struct UNICODE_STRING {
  USHORT Length;
  USHORT MaximumLength;
  PWSTR Buffer;
};
using PUNICODE_STRING = UNICODE_STRING*;
using PCUNICODE_STRING = const UNICODE_STRING*;

// A doubly linked list head or entry, for the IRP queues drivers keep.
struct LIST_ENTRY {
  LIST_ENTRY* Flink;
  LIST_ENTRY* Blink;
};
using PLIST_ENTRY = LIST_ENTRY*;

inline void InitializeListHead(PLIST_ENTRY head) {
  head->Flink = head->Blink = head;
}
inline BOOLEAN IsListEmpty(const LIST_ENTRY* head) {
  return head->Flink == head;
}
inline void InsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry) {
  entry->Flink = head;
  entry->Blink = head->Blink;
  head->Blink->Flink = entry;
  head->Blink = entry;
}
inline void InsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry) {
  entry->Blink = head;
  entry->Flink = head->Flink;
  head->Flink->Blink = entry;
  head->Flink = entry;
}
inline BOOLEAN RemoveEntryList(PLIST_ENTRY entry) {
  entry->Blink->Flink = entry->Flink;
  entry->Flink->Blink = entry->Blink;
  return entry->Flink == entry->Blink;
}
// The first entry, unlinked; the head itself when the list is empty.
inline PLIST_ENTRY RemoveHeadList(PLIST_ENTRY head) {
  PLIST_ENTRY entry = head->Flink;
  RemoveEntryList(entry);
  return entry;
}

#define CONTAINING_RECORD(address, type, field) \
  (reinterpret_cast<type*>(reinterpret_cast<char*>(address) - offsetof(type, field)))

}  // namespace k52::nt

// Rtl: counted strings, memory helpers and registry queries.
#pragma once

#include <cstring>

#include "platform/nt/status.h"
#include "platform/nt/types.h"

namespace k52::nt {

// Points Destination at the NUL-terminated Source (null gives an empty
// string); nothing is copied, Source must outlive it.
void RtlInitUnicodeString(PUNICODE_STRING Destination, PCWSTR Source);
// Negative, zero or positive as String1 sorts before, with or after String2.
LONG RtlCompareUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                             BOOLEAN CaseInSensitive);
BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                              BOOLEAN CaseInSensitive);
// Frees a Buffer the kernel allocated (RtlQueryRegistryValues) and empties
// the string.
void RtlFreeUnicodeString(PUNICODE_STRING UnicodeString);

inline void RtlCopyMemory(void* Destination, const void* Source, SIZE_T Length) {
  std::memcpy(Destination, Source, Length);
}
inline void RtlMoveMemory(void* Destination, const void* Source, SIZE_T Length) {
  std::memmove(Destination, Source, Length);
}
inline void RtlZeroMemory(void* Destination, SIZE_T Length) {
  std::memset(Destination, 0, Length);
}
inline void RtlFillMemory(void* Destination, SIZE_T Length, UCHAR Fill) {
  std::memset(Destination, Fill, Length);
}

// --- registry ---

inline constexpr ULONG RTL_REGISTRY_ABSOLUTE = 0;
inline constexpr ULONG RTL_REGISTRY_SERVICES = 1;
inline constexpr ULONG RTL_REGISTRY_CONTROL = 2;
inline constexpr ULONG RTL_REGISTRY_OPTIONAL = 0x80000000;

inline constexpr ULONG RTL_QUERY_REGISTRY_SUBKEY = 0x00000001;
inline constexpr ULONG RTL_QUERY_REGISTRY_TOPKEY = 0x00000002;
inline constexpr ULONG RTL_QUERY_REGISTRY_REQUIRED = 0x00000004;
inline constexpr ULONG RTL_QUERY_REGISTRY_NOEXPAND = 0x00000010;
inline constexpr ULONG RTL_QUERY_REGISTRY_DIRECT = 0x00000020;

inline constexpr ULONG REG_NONE = 0;
inline constexpr ULONG REG_SZ = 1;
inline constexpr ULONG REG_BINARY = 3;
inline constexpr ULONG REG_DWORD = 4;

using PRTL_QUERY_REGISTRY_ROUTINE = NTSTATUS (*)(PWSTR ValueName, ULONG ValueType, PVOID ValueData,
                                                 ULONG ValueLength, PVOID Context,
                                                 PVOID EntryContext);

struct RTL_QUERY_REGISTRY_TABLE {
  PRTL_QUERY_REGISTRY_ROUTINE QueryRoutine;
  ULONG Flags;
  PWSTR Name;
  PVOID EntryContext;
  ULONG DefaultType;
  PVOID DefaultData;
  ULONG DefaultLength;
};
using PRTL_QUERY_REGISTRY_TABLE = RTL_QUERY_REGISTRY_TABLE*;

// Reads the values QueryTable names (the table ends with an entry whose
// QueryRoutine and Name are both null) from the key Path, which is
// "\Registry\Machine\..." for RTL_REGISTRY_ABSOLUTE or relative to
// "\Registry\Machine\System\CurrentControlSet\Services" for
// RTL_REGISTRY_SERVICES, in the current Kernel's HKLM hive.
//
// Per entry: RTL_QUERY_REGISTRY_SUBKEY makes Name a subkey that later
// entries read from (TOPKEY goes back). With RTL_QUERY_REGISTRY_DIRECT a
// REG_DWORD value is stored to *(ULONG*)EntryContext and a REG_SZ value to
// the UNICODE_STRING at EntryContext (into its Buffer when that is set and
// large enough, else STATUS_BUFFER_TOO_SMALL; a null Buffer receives a new
// one to free with RtlFreeUnicodeString). Without DIRECT, QueryRoutine is
// called with the value (REG_DWORD: a ULONG; REG_SZ: a NUL-terminated wide
// string; REG_BINARY: the bytes) and its status ends the query when it
// fails. A value that is absent, or whose type differs from a DefaultType
// other than REG_NONE, takes the default (DefaultType/DefaultData, a
// REG_DWORD default read from DefaultData) or, without one, leaves
// EntryContext untouched; RTL_QUERY_REGISTRY_REQUIRED makes it fail with
// STATUS_OBJECT_NAME_NOT_FOUND instead.
//
// STATUS_OBJECT_NAME_NOT_FOUND when the key does not exist;
// STATUS_INVALID_PARAMETER for another RelativeTo or a malformed table.
// Context is passed to the query routines; Environment is ignored.
NTSTATUS RtlQueryRegistryValues(ULONG RelativeTo, PCWSTR Path, PRTL_QUERY_REGISTRY_TABLE QueryTable,
                                PVOID Context, PVOID Environment);

}  // namespace k52::nt

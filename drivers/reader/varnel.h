// What a host of the reader driver and its clients need: its entry point
// ("varnel", its service key) and the vendor request for the keyboard's PIN
// commands.
#pragma once

#include "platform/nt/ntddk.h"

namespace k52::varnel {

inline constexpr const wchar_t* kDriverName = L"varnel";
inline constexpr const wchar_t* kDeviceName = L"\\Device\\VARNEL0";

// Input: the PIN command byte (0x6D, 0x6E) and its CT-BCS data field; output:
// the terminal's answer from its LEN byte on.
inline constexpr nt::ULONG IOCTL_VARNEL_VENDOR = 0x330000;

nt::NTSTATUS DriverEntry(nt::PDRIVER_OBJECT driver, nt::PUNICODE_STRING registryPath);

}  // namespace k52::varnel

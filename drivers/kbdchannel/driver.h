// What a host of the channel driver needs: its entry point, for the kernel
// to call as the system start does ("vrlPCSC", its service key).
#pragma once

#include "platform/nt/ntddk.h"

namespace k52::kbdchannel {

inline constexpr const wchar_t* kDriverName = L"vrlPCSC";

nt::NTSTATUS DriverEntry(nt::PDRIVER_OBJECT driver, nt::PUNICODE_STRING registryPath);

}  // namespace k52::kbdchannel

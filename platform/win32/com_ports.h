// Which Linux device serves which COM port, from the registry of the
// prefix: under HKEY_LOCAL_MACHINE\Software\k52kit\Ports, a REG_SZ value
// per port named "COM1" to "COM15" holding an absolute path:
//
//   [HKEY_LOCAL_MACHINE\Software\k52kit\Ports]
//   "COM1"="/dev/ttyUSB0"
//   "COM2"="/dev/pts/7"
//
// Values of another type, empty or relative paths, and other names are
// ignored. The kernel model's serial driver and the Win32 COM stand-in read
// the same values.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/win32/registry.h"

namespace k52::win32 {

inline constexpr std::string_view kPortsKey = "Software\\k52kit\\Ports";
inline constexpr unsigned kComPortCount = 15;

// The configured paths by port index (0 = COM1).
std::map<unsigned, std::string> configuredPorts(const Registry& registry);

}  // namespace k52::win32

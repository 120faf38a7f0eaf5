// The COM port configuration of the prefix's registry, which the Win32 side
// reads as well: see platform/win32/com_ports.h.
#pragma once

#include "platform/win32/com_ports.h"

namespace k52::nt::serial {

using win32::configuredPorts;
using win32::kPortsKey;

}  // namespace k52::nt::serial

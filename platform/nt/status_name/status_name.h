// NT status values by name, for logs and tools: what a person reads when a
// request to a driver failed.
#pragma once

#include <string>

#include "platform/nt/status.h"

namespace k52::nt {

// "STATUS_IO_TIMEOUT (0xC00000B5)"; a value without a name here reads as
// its number alone, "0xC0001234".
std::string statusName(NTSTATUS status);

}  // namespace k52::nt

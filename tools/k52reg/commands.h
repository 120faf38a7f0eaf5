// The k52reg commands, run against the registry of one prefix.
#pragma once

#include <istream>
#include <ostream>

#include "platform/win32/registry.h"
#include "tools/k52reg/command_line.h"

namespace k52::k52reg {

// Runs `line.command`: output to `out`, and for import of "-" input from
// `in`. Returns the exit status: 0, or 1 with a message on `err` when the
// value or key asked for does not exist. Throws UsageError for bad operands
// and RegistryError (or other std::exception) when the registry fails.
int runCommand(const CommandLine& line, win32::Registry& registry, std::istream& in,
               std::ostream& out, std::ostream& err);

}  // namespace k52::k52reg

// Carries out vrlctl's steps: a simulated PC with the K52 keyboard and the
// channel driver loaded, and a tool's handle to "\\.\vrlPCSC".
#pragma once

#include <ostream>

#include "tools/vrlctl/command_line.h"

namespace k52::vrlctl {

// Runs every step, one output line each, and stops at the first that
// fails. Returns the exit status: 0, or 1 when a request failed.
int runSession(const CommandLine& line, bool privileged, std::ostream& out, std::ostream& err);

}  // namespace k52::vrlctl

// The developer's debug log: one line per event that the program handles
// without telling its caller (a failure it swallowed, a fallback it took).
//
// Off unless the environment variable K52_DEBUG is set to anything but "0"
// or empty; then every line goes to stderr as "k52 <where>: <what>". It is
// never the place for what a user must see: those are the programs' own
// messages and traces.
#pragma once

#include <string_view>

namespace k52::diag {

// True when K52_DEBUG asks for the debug log (read once per process).
bool debugLogEnabled();

// Writes one line when the log is enabled. Never throws.
void debugLog(std::string_view where, std::string_view what) noexcept;

// The text of the exception being handled, for use inside a catch block:
// what() of a std::exception, else "unknown exception".
std::string_view currentExceptionText() noexcept;

}  // namespace k52::diag

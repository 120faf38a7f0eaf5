// The handler's messages. Inside pcscd they go to pcscd's own log (its
// log_msg, found at run time), so they reach syslog or the console just as
// the daemon's do; hosted elsewhere (the handler's tests, a tool) they go
// to stderr.
#pragma once

#include <string_view>

namespace k52::ifd {

// pcscd's priorities.
enum class LogPriority { kDebug = 0, kInfo = 1, kError = 2, kCritical = 3 };

void logMessage(LogPriority priority, std::string_view text);

}  // namespace k52::ifd

#include "drivers/ifd/handler_log.h"

#include <cstdio>

// pcscd exports it for its drivers; weak, so that the handler also loads
// where no pcscd is.
extern "C" void log_msg(const int priority, const char* fmt, ...) __attribute__((weak));

namespace k52::ifd {

void logMessage(LogPriority priority, std::string_view text) {
  const int length = static_cast<int>(text.size());
  if (log_msg != nullptr) {
    log_msg(static_cast<int>(priority), "libifd-varnel: %.*s", length, text.data());
  } else {
    std::fprintf(stderr, "libifd-varnel: %.*s\n", length, text.data());
  }
}

}  // namespace k52::ifd

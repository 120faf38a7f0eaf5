#include "platform/diag/debug_log.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace k52::diag {

bool debugLogEnabled() {
  static const bool enabled = [] {
    const char* value = std::getenv("K52_DEBUG");
    return value != nullptr && *value != '\0' && std::string_view(value) != "0";
  }();
  return enabled;
}

void debugLog(std::string_view where, std::string_view what) noexcept {
  if (!debugLogEnabled()) return;
  // One write per line, so lines of several threads do not interleave.
  std::fprintf(stderr, "k52 %.*s: %.*s\n", static_cast<int>(where.size()), where.data(),
               static_cast<int>(what.size()), what.data());
}

std::string_view currentExceptionText() noexcept {
  try {
    if (auto current = std::current_exception()) std::rethrow_exception(current);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
  }
  return "unknown exception";
}

}  // namespace k52::diag

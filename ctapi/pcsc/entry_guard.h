// The exported entry points' last line of defence: no exception crosses the
// C boundary. One that escapes the library's logic becomes the entry point's
// error result, and the debug log says what it was.
#pragma once

#include <string_view>

#include "platform/diag/debug_log.h"

namespace k52::ctbridge {

// `call`'s result, or `onError` when it throws; `entry` names the entry point
// in the debug log.
template <typename Result, typename Call>
Result guarded(std::string_view entry, Result onError, Call call) noexcept {
  try {
    return call();
  } catch (...) {
    diag::debugLog(entry, diag::currentExceptionText());
    return onError;
  }
}

}  // namespace k52::ctbridge

// k52sim's command line (NUL-separated arguments) and the same bytes as a
// control line from another process.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "sim/k52sim/control_request.h"
#include "sim/k52sim/options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> args;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find('\0', at), text.size());
    args.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  (void)k52::sim::parseK52simOptions(args);
  (void)k52::sim::parseControlLine(text);
  return 0;
}

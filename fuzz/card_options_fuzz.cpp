// k52card's command line and the hex notation it takes ATRs in.
// Input: arguments separated by NUL bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/text/hex.h"
#include "sim/vpcd/card_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  k52::text::parseHex(text);

  std::vector<std::string_view> args;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find('\0', start), text.size());
    args.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  k52::sim::parseCardOptions(args);
  return 0;
}

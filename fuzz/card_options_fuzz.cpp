// k52card's command line and the hex notation it takes ATRs in.
// Input: arguments separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz/nul_separated_args.h"
#include "platform/text/hex.h"
#include "sim/vpcd/card_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  k52::text::parseHex(text);

  const std::vector<std::string_view> args = k52::fuzz::nulSeparatedArgs(text);
  k52::sim::parseCardOptions(args);
  return 0;
}

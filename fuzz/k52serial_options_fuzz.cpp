// k52serial's command line: NUL-separated arguments.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz/nul_separated_args.h"
#include "sim/k52fw/serial_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string_view> args = k52::fuzz::nulSeparatedArgs(text);
  (void)k52::sim::parseSerialOptions(args);
  return 0;
}

// The shell's command syntax with any text.
#include <cstdint>
#include <string_view>

#include "tools/ctapi-shell/command_spec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  k52::tools::parseCommandSpec(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}

// The shell's command syntax with any text.
#include <cstdint>
#include <string_view>

#include "tools/ctapi-shell/shell_command.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  k52::tools::parseShellCommand(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}

// vrlctl's command line parser with arbitrary arguments (NUL separates
// them): it either reads steps or says why not.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "tools/vrlctl/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> args;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\0') {
      args.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  try {
    k52::vrlctl::parseCommandLine(args);
  } catch (const k52::vrlctl::UsageError&) {
  }
  return 0;
}

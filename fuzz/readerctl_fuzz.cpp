// readerctl's command line as NUL-separated arguments.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/nul_separated_args.h"
#include "tools/readerctl/steps.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)k52::readerctl::parseInvocation(k52::fuzz::nulSeparatedArgs(text));
  return 0;
}

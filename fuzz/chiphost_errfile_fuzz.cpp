// Arbitrary text as "SCARD.ERR", and arbitrary error texts to format with it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "chiphost/core/error_texts.h"

using namespace k52::chiphost;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The file text, then after the first zero byte an error text.
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string_view file = input.substr(0, split);
  const std::string_view error =
      split == std::string_view::npos ? "1009,Editor" : input.substr(split + 1, 80);

  const ErrorTexts texts(file);
  for (std::string_view language : {"GERMAN", "ENGLISH"}) {
    if (texts.text(language, errorCodeOf(error)).size() > 250) std::abort();
    if (texts.format(language, errorCodeOf(error), error).size() > 255) std::abort();
    if (texts.errText(language, error).size() > 255) std::abort();
  }
  return 0;
}

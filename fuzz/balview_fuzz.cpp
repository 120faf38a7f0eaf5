// Whatever a CT-API library answers, balview's steps must end with a message
// or a balance, and libctstatus.so's rewrite must stay within the response.
//
// The input is a string of answers, each a result byte, a length byte and
// that many bytes (the length may claim more than the input or the buffer
// holds).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "tools/purse/purse_tool.h"
#include "tools/purse/short_status.h"
#include "tools/purse/version_info.h"

namespace {

std::span<const std::uint8_t> input;

std::uint8_t next() {
  if (input.empty()) return 0;
  const std::uint8_t b = input.front();
  input = input.subspan(1);
  return b;
}

std::int8_t answer(std::uint16_t, std::uint8_t* dad, std::uint8_t* sad, std::uint16_t,
                   const std::uint8_t*, std::uint16_t* lenr, std::uint8_t* response) {
  std::swap(*dad, *sad);
  const auto result = static_cast<std::int8_t>(next());
  const std::uint8_t claimed = next();
  const std::size_t n = std::min<std::size_t>({claimed, input.size(), *lenr});
  std::memcpy(response, input.data(), n);
  input = input.subspan(n);
  *lenr = claimed;
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace k52::balview;
  input = std::span(data, size);
  {
    CtApiBinding ct(CtApiFunctions{nullptr, &answer, nullptr});
    PurseTool tool(ct);
    tool.test([] {});
    if (tool.displayText().empty()) __builtin_trap();
    queryVersionTexts(ct);
    versionIncomplete(ct);
  }
  std::uint8_t response[5] = {};
  std::uint16_t lenr = std::min<std::uint16_t>(next() % 6, 5);
  for (std::uint16_t i = 0; i < lenr; ++i) response[i] = next();
  shortenIccStatus(&answer, 1, &lenr, response);
  if (lenr > sizeof response) __builtin_trap();
  return 0;
}

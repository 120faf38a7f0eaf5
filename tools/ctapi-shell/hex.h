// Hex text as people type it: "20 12 01 01", "20120101" or "20:12:01:01".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace k52::tools {

// nullopt when a character is not a hex digit or separator, or the digits
// do not pair up.
std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text);

// "90 01".
std::string formatHex(std::span<const std::uint8_t> bytes);

}  // namespace k52::tools

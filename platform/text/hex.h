// Byte strings written as hex, the way people type APDUs and ATRs:
// "00A4040C", "00 A4 04 0C", "00:a4:04:0c" and "00,A4,04,0C" all mean the same.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace k52::text {

// nullopt when a character is not a hex digit or separator, or the digits
// do not pair up.
std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text);

// "90 01".
std::string formatHex(std::span<const std::uint8_t> bytes);

}  // namespace k52::text

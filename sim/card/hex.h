// Byte strings written as hex, the way people type APDUs and ATRs:
// "00A4040C", "00 A4 04 0C" and "00:a4:04:0c" all mean the same.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace k52::sim {

// nullopt on any other character or an odd number of digits.
std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text);

}  // namespace k52::sim

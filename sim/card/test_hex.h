// Hex literals for the card tests: "00 A4 04 0C" -> bytes.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "sim/card/hex.h"

namespace k52::sim::testhex {

inline std::vector<std::uint8_t> bytes(std::string_view hex) {
  return parseHex(hex).value();
}

}  // namespace k52::sim::testhex

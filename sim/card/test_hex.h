// Hex literals for the card tests: "00 A4 04 0C" -> bytes.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/text/hex.h"

namespace k52::sim::testhex {

inline std::vector<std::uint8_t> bytes(std::string_view hex) {
  return k52::text::parseHex(hex).value();
}

}  // namespace k52::sim::testhex

// Hex literals for the card tests: "00 A4 04 0C" -> bytes.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace k52::sim::testhex {

inline std::vector<std::uint8_t> bytes(std::string_view hex) {
  std::vector<std::uint8_t> out;
  int high = -1;
  for (char c : hex) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else
      continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  return out;
}

}  // namespace k52::sim::testhex

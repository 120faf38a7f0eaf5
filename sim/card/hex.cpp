#include "sim/card/hex.h"

namespace k52::sim {
namespace {

int digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text) {
  std::vector<std::uint8_t> out;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ':') {
      // Separators go between bytes, not inside one.
      if (high >= 0) return std::nullopt;
      continue;
    }
    const int v = digit(c);
    if (v < 0) return std::nullopt;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return out;
}

}  // namespace k52::sim

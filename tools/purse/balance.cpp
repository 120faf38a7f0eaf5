#include "tools/purse/balance.h"

#include <cstdio>

namespace k52::balview {

std::optional<std::int32_t> decodeBalance(std::span<const std::uint8_t, 3> bcd) {
  std::int32_t amount = 0;
  for (const std::uint8_t byte : bcd) {
    for (const int digit : {byte >> 4, byte & 0x0F}) {
      if (digit > 9) return std::nullopt;
      amount = amount * 10 + digit;
    }
  }
  return amount;
}

std::string formatBalance(std::int32_t pfennig) {
  char text[32];
  std::snprintf(text, sizeof text, "%3d.%02d DM", pfennig / 100, pfennig % 100);
  return text;
}

}  // namespace k52::balview

#include "platform/text/hex.h"

#include <cctype>

namespace k52::text {
namespace {

int digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == ':' || c == ',') {
      if (high >= 0) return std::nullopt;  // a lone digit before a separator
      continue;
    }
    const int d = digit(c);
    if (d < 0) return std::nullopt;
    if (high < 0) {
      high = d;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high << 4 | d));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return bytes;
}

std::string formatHex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t b : bytes) {
    if (!text.empty()) text.push_back(' ');
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

}  // namespace k52::text

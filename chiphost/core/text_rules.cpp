#include "chiphost/core/text_rules.h"

#include <limits>

#include "platform/text/hex.h"

namespace k52::chiphost {

std::string ansiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z') {
      c = static_cast<char>(b - 0x20);
    } else if (b >= 0xE0 && b <= 0xFE && b != 0xF7) {  // à..þ except ÷
      c = static_cast<char>(b - 0x20);
    } else if (b == 0x9A || b == 0x9C || b == 0x9E) {  // š œ ž
      c = static_cast<char>(b - 0x10);
    } else if (b == 0xFF) {  // ÿ
      c = static_cast<char>(0x9F);
    }
  }
  return upper;
}

std::string_view trimBlanks(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool isSeparator(char c) {
  return c == '\r' || c == '\n' || c == ',' || c == ':' || c == ';' || c == '=';
}

std::optional<std::int32_t> parseDecimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  std::int64_t value = 0;
  bool digits = false, negative = false, zeroed = false;
  for (char c : text) {
    if (c == '-') {
      if (digits) {
        zeroed = true;
      } else {
        negative = true;
      }
    } else if (c >= '0' && c <= '9') {
      digits = true;
      if (value <= kMax) value = value * 10 + (c - '0');
    } else {
      return std::nullopt;
    }
  }
  if (zeroed) return 0;
  if (value > kMax) value = negative ? kMax + 1 : kMax;
  return static_cast<std::int32_t>(negative ? -value : value);
}

std::uint32_t parseHexValue(std::string_view text) {
  std::uint32_t value = 0;
  for (char c : text) {
    if (c == ' ') continue;
    if (c >= '0' && c <= '9') {
      value = value << 4 | static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      value = value << 4 | static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return 0;
    }
  }
  return value;
}

std::string hex4(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0x0F]);
    value >>= 4;
  } while (value != 0);
  if (text.size() < 4) text.insert(0, 4 - text.size(), '0');
  return text;
}

std::string hexByteText(std::span<const std::uint8_t> bytes) {
  std::string text = k52::text::formatHex(bytes);
  if (!text.empty()) text.push_back(' ');
  return text;
}

std::int32_t resultCodeOf(std::string_view errorText) {
  return static_cast<std::int32_t>(parseHexValue(errorText.substr(0, 4)));
}

}  // namespace k52::chiphost

#include "sim/k52fw/keypad.h"

#include <array>

namespace k52::sim {
namespace {

constexpr std::uint8_t kEsc = 0x01;
constexpr std::uint8_t kTopRow1 = 0x02;  // 1..9, then 0 at 0x0B
constexpr std::uint8_t kTopRow0 = 0x0B;
constexpr std::uint8_t kBackspace = 0x0E;
constexpr std::uint8_t kEnter = 0x1C;
// The numeric keypad's digits 0..9.
constexpr std::array<std::uint8_t, 10> kPadDigits = {0x52, 0x4F, 0x50, 0x51, 0x4B,
                                                     0x4C, 0x4D, 0x47, 0x48, 0x49};

}  // namespace

std::optional<KeypadKey> keypadKeyOf(std::uint8_t makeCode) {
  if (makeCode >= kTopRow1 && makeCode < kTopRow0) return digitKey(makeCode - kTopRow1 + 1);
  if (makeCode == kTopRow0) return KeypadKey::k0;
  for (std::uint8_t digit = 0; digit < kPadDigits.size(); ++digit) {
    if (kPadDigits[digit] == makeCode) return digitKey(digit);
  }
  switch (makeCode) {
    case kEnter:
      return KeypadKey::kEnter;
    case kEsc:
      return KeypadKey::kCancel;
    case kBackspace:
      return KeypadKey::kClear;
    default:
      return std::nullopt;
  }
}

std::uint8_t makeCodeOf(KeypadKey key) {
  if (isDigit(key)) return kPadDigits[static_cast<std::size_t>(key)];
  switch (key) {
    case KeypadKey::kEnter:
      return kEnter;
    case KeypadKey::kCancel:
      return kEsc;
    default:
      return kBackspace;
  }
}

std::optional<std::vector<KeypadKey>> parseKeypadKeys(std::string_view text) {
  std::vector<KeypadKey> keys;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      keys.push_back(digitKey(static_cast<std::uint8_t>(c - '0')));
    } else if (c == 'E') {
      keys.push_back(KeypadKey::kEnter);
    } else if (c == 'C') {
      keys.push_back(KeypadKey::kCancel);
    } else if (c == 'B') {
      keys.push_back(KeypadKey::kClear);
    } else {
      return std::nullopt;
    }
  }
  return keys;
}

}  // namespace k52::sim

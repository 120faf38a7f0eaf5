// The keys the terminal reads while it asks for a PIN, and where they are
// on the keyboard (scan code set 1): the digits of the top row and of the
// numeric keypad, Enter, Esc to cancel and Backspace to take back a digit.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace k52::sim {

enum class KeypadKey : std::uint8_t {
  k0,
  k1,
  k2,
  k3,
  k4,
  k5,
  k6,
  k7,
  k8,
  k9,
  kEnter,
  kCancel,
  kClear,
};

inline constexpr KeypadKey digitKey(std::uint8_t digit) {
  return static_cast<KeypadKey>(digit);
}
inline constexpr bool isDigit(KeypadKey key) {
  return key <= KeypadKey::k9;
}

// The key a make code stands for during a PIN entry.
std::optional<KeypadKey> keypadKeyOf(std::uint8_t makeCode);

// The make code that types `key` (keypad digits, Enter, Esc, Backspace).
std::uint8_t makeCodeOf(KeypadKey key);

// Keys written as the tools take them: digits, E for Enter, C for Cancel,
// B for Backspace (kClear). nullopt for any other character.
std::optional<std::vector<KeypadKey>> parseKeypadKeys(std::string_view text);

}  // namespace k52::sim

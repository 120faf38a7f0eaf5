// The character and number rules of the command language.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace k52::chiphost {

// The platform's ANSI upper-casing (Windows code page 1252).
std::string ansiUpper(std::string_view text);

// Without blanks (and other control characters) at both ends.
std::string_view trimBlanks(std::string_view text);

// CR, LF, ',', ':', ';' and '='; runs of them count as one.
bool isSeparator(char c);

// Decimal argument: only '-' and digits; anything else makes it absent. A '-'
// before the first digit negates, a '-' after a digit makes the value 0.
// Values beyond 32 bits saturate.
std::optional<std::int32_t> parseDecimal(std::string_view text);

// Hexadecimal argument: digits and 'A'..'F', blanks ignored; any other
// character makes the value 0. Wraps at 32 bits.
std::uint32_t parseHexValue(std::string_view text);

// "1203" for 0x1203: four upper-case digits (more when the value needs them).
std::string hex4(std::uint32_t value);

// Every byte as two upper-case digits followed by one blank: "3B 02 14 ".
std::string hexByteText(std::span<const std::uint8_t> bytes);

// The result code of an error text: the hexadecimal value of its first four
// characters.
std::int32_t resultCodeOf(std::string_view errorText);

}  // namespace k52::chiphost

// The five commands the tool sends, and which answers it accepts.
//
// The status and version queries expect the answers of the keyboard terminal
// library: GET STATUS for the ICC status object answered as S 90 00 (no tag,
// no length), the version object 0x47 as exactly three bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "tools/purse/ctapi_binding.h"

namespace k52::balview {

// What the terminal says about the card; the numbers are the tool's own.
enum class CardState { NoCard = 1, Present = 2, Active = 3, Unknown = 4 };

// GET STATUS 20 13 00 80 00 to the terminal. Any answer other than
// S 90 00 with S of 00, 03 or 05 (a failed call included) is Unknown.
CardState cardStatus(CtApiBinding& ct);

// RESET CT for ICC1 20 11 01 00 00; accepted when the answer begins 90 01.
bool cardReset(CtApiBinding& ct);

// SELECT FILE of the purse application D2 76 00 00 25 45 50 01 00 without
// answer data; accepted when the answer begins 90 00.
bool selectPurse(CtApiBinding& ct);

// READ RECORD 1 of the balance file (short identifier 0x18), 9 bytes
// expected: the record without its status bytes when the answer has at least
// two bytes and ends in 90 00.
std::optional<std::vector<std::uint8_t>> readBalanceRecord(CtApiBinding& ct);

// GET STATUS 20 13 00 47: the three version bytes (interface, driver,
// firmware) when the call returned OK with exactly three bytes.
std::optional<std::array<std::uint8_t, 3>> versionQuery(CtApiBinding& ct);

}  // namespace k52::balview

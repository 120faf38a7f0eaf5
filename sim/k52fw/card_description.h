// A card for the terminal's slot as the tools name it on their command
// lines:
//
//   purse:BALANCE[:t0|t1|both][:pin=DIGITS]   a purse card, BALANCE in cents
//   pin:DIGITS[:t0|t1|both]                    a purse card holding 0 with a
//                                              PIN application
//
// The PIN application (AID D27600009850494E) expects in its VERIFY the
// format-2 PIN block of the 4..12 digits.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sim/card/atr.h"
#include "sim/card/card.h"

namespace k52::sim {

struct CardDescription {
  std::uint32_t balance = 0;
  AtrProtocols protocols = AtrProtocols::kT0AndT1;
  std::vector<std::uint8_t> pin;  // digits; empty for no PIN application
};

// 0..999999, decimal.
std::optional<std::uint32_t> parseBalance(std::string_view text);
// t0, t1 or both.
std::optional<AtrProtocols> parseAtrProtocols(std::string_view text);
// 4..12 decimal digits, as digit values.
std::optional<std::vector<std::uint8_t>> parsePinDigits(std::string_view text);

// The card or an error message naming what is wrong with it.
std::variant<CardDescription, std::string> parseCardDescription(std::string_view text);

std::shared_ptr<Card> makeCard(const CardDescription& description);

}  // namespace k52::sim

// The purse balance: three bytes of packed BCD pfennig, shown in Deutsche Mark.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace k52::balview {

// No balance known.
inline constexpr std::int32_t kNoBalance = -1;

// The amount in the first three bytes of the balance record, six digits most
// significant first; nullopt when a nibble is above 9. The record must hold
// at least three bytes.
std::optional<std::int32_t> decodeBalance(std::span<const std::uint8_t, 3> bcd);

// "%3d.%02d DM" of balance / 100 and balance % 100: 1234 is " 12.34 DM".
std::string formatBalance(std::int32_t pfennig);

}  // namespace k52::balview

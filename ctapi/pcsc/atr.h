// Reading an answer-to-reset the ISO/IEC 7816-3 way.
#pragma once

#include <cstdint>
#include <span>

namespace k52::ctbridge {

// The historical bytes: after the interface bytes that T0 and every TDi
// announce, K of them (low nibble of T0). A truncated ATR yields what is there.
std::span<const std::uint8_t> historicalBytes(std::span<const std::uint8_t> atr);

}  // namespace k52::ctbridge

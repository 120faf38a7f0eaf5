// The scan-code frame that carries a terminal answer to the host: lead-in
// 0x64, a marker byte, then each byte of [big-endian length][answer] as two
// codes 0x10 + high nibble, 0x10 + low nibble.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace k52::sim {

inline constexpr std::uint8_t kFrameLeadIn = 0x64;
inline constexpr std::uint8_t kAnswerNibbleBase = 0x10;
// Codes before the first nibble code.
inline constexpr std::size_t kFrameHeaderCodes = 2;
// The length field limits an answer to this many bytes.
inline constexpr std::size_t kMaxAnswerBytes = 0xFFFF;

// `answer` must not be longer than kMaxAnswerBytes.
std::vector<std::uint8_t> encodeAnswerFrame(std::span<const std::uint8_t> answer,
                                            std::uint8_t marker);

}  // namespace k52::sim

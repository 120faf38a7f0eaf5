// Command and response APDUs at the card's application layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace k52::sim {

struct CommandApdu {
  std::uint8_t cla = 0;
  std::uint8_t ins = 0;
  std::uint8_t p1 = 0;
  std::uint8_t p2 = 0;
  // A view into the bytes the command was parsed from.
  std::span<const std::uint8_t> data;
  // Bytes expected in the answer: 0 when the command has no Le field,
  // otherwise 1..256 (short) or 1..65536 (extended).
  std::size_t ne = 0;
  bool hasLe() const { return ne != 0; }
};

// Splits a command into header, body and Le following the short and extended
// length encodings. nullopt when the length fields do not match the command's
// size: such a command cannot be interpreted at all.
std::optional<CommandApdu> parseCommandApdu(std::span<const std::uint8_t> bytes);

struct ResponseApdu {
  std::vector<std::uint8_t> data;
  std::uint16_t sw = 0;

  // Data followed by SW1 SW2.
  std::vector<std::uint8_t> bytes() const;
};

inline ResponseApdu statusOnly(std::uint16_t sw) {
  return ResponseApdu{{}, sw};
}

}  // namespace k52::sim

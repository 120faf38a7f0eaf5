// Builds the terminal's command strings from the host's nibble codes
// (0xB0 + nibble), high nibble first: four nibbles of big-endian length L,
// then L bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace k52::sim {

inline constexpr std::uint8_t kHostNibbleBase = 0xB0;

inline constexpr bool isHostNibbleCode(std::uint8_t byte) {
  return (byte & 0xF0) == kHostNibbleBase;
}

class CommandAssembler {
 public:
  // Takes one nibble code; returns the command it completes, if any.
  // Bytes that are not nibble codes are ignored.
  std::optional<std::vector<std::uint8_t>> feed(std::uint8_t code);

  // Forgets the command in progress.
  void reset() { *this = CommandAssembler{}; }
  // Nibbles of the command in progress.
  std::size_t nibblesPending() const { return nibbles_; }

 private:
  std::size_t nibbles_ = 0;
  std::uint16_t length_ = 0;
  std::uint8_t highNibble_ = 0;
  std::vector<std::uint8_t> data_;
};

}  // namespace k52::sim

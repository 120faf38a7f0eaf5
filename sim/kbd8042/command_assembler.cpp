#include "sim/kbd8042/command_assembler.h"

#include <utility>

namespace k52::sim {

std::optional<std::vector<std::uint8_t>> CommandAssembler::feed(std::uint8_t code) {
  if (!isHostNibbleCode(code)) return std::nullopt;
  const auto nibble = static_cast<std::uint8_t>(code & 0x0F);
  constexpr std::size_t kLengthNibbles = 4;
  if (nibbles_ < kLengthNibbles) {
    length_ = static_cast<std::uint16_t>((length_ << 4) | nibble);
  } else if ((nibbles_ - kLengthNibbles) % 2 == 0) {
    highNibble_ = nibble;
  } else {
    data_.push_back(static_cast<std::uint8_t>((highNibble_ << 4) | nibble));
  }
  ++nibbles_;
  if (nibbles_ < kLengthNibbles || data_.size() < length_) return std::nullopt;
  std::vector<std::uint8_t> command = std::move(data_);
  data_.clear();
  nibbles_ = 0;
  length_ = 0;
  return command;
}

}  // namespace k52::sim

// The shape of a command: which of the seven length cases it is, and where
// its data field lies.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace k52::ctbridge {

struct Command {
  std::uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
  int lengthCase = 0;  // 1..4 short, 5..7 extended
  std::uint16_t lc = 0;
  std::span<const std::uint8_t> data;  // the Lc data bytes
};

// Classifies a command by its length; nullopt when it fits no case (the
// caller answers 67 00).
std::optional<Command> classifyCommand(std::span<const std::uint8_t> bytes);

}  // namespace k52::ctbridge

#include "sim/card/t1_block.h"

namespace k52::sim::t1 {

std::uint8_t lrc(std::span<const std::uint8_t> bytes) {
  std::uint8_t x = 0;
  for (const std::uint8_t b : bytes) x ^= b;
  return x;
}

std::vector<std::uint8_t> encode(std::uint8_t nad, std::uint8_t pcb,
                                 std::span<const std::uint8_t> inf) {
  std::vector<std::uint8_t> block{nad, pcb, static_cast<std::uint8_t>(inf.size())};
  block.insert(block.end(), inf.begin(), inf.end());
  block.push_back(lrc(block));
  return block;
}

BlockError decode(std::span<const std::uint8_t> bytes, Block& block) {
  if (bytes.size() < kPrologue + 1) return BlockError::kOther;
  const std::size_t len = bytes[2];
  if (len > kMaxInf || bytes.size() != kPrologue + len + 1) return BlockError::kOther;
  if (lrc(bytes) != 0) return BlockError::kEdc;
  block.nad = bytes[0];
  block.pcb = bytes[1];
  block.inf.assign(bytes.begin() + kPrologue, bytes.end() - 1);
  return BlockError::kNone;
}

}  // namespace k52::sim::t1

#include "platform/smclib/t1_block.h"

namespace k52::nt::t1 {
namespace {

std::uint8_t lrc(std::span<const std::uint8_t> bytes) {
  std::uint8_t x = 0;
  for (std::uint8_t b : bytes) x ^= b;
  return x;
}

// CRC of ISO/IEC 13239 (polynomial x^16 + x^12 + x^5 + 1, bits least
// significant first, preset to all ones), sent high byte first.
std::uint16_t crc(std::span<const std::uint8_t> bytes) {
  std::uint16_t v = 0xFFFF;
  for (std::uint8_t b : bytes) {
    v ^= b;
    for (int i = 0; i < 8; ++i)
      v = (v & 1) ? static_cast<std::uint16_t>((v >> 1) ^ 0x8408) : v >> 1;
  }
  return v;
}

}  // namespace

void appendEdc(std::span<std::uint8_t> block, std::size_t length, bool useCrc) {
  const auto body = block.first(length);
  if (useCrc) {
    const std::uint16_t v = crc(body);
    block[length] = static_cast<std::uint8_t>(v >> 8);
    block[length + 1] = static_cast<std::uint8_t>(v);
  } else {
    block[length] = lrc(body);
  }
}

bool edcValid(std::span<const std::uint8_t> block, bool useCrc) {
  const std::size_t n = edcLength(useCrc);
  if (block.size() < n) return false;
  const auto body = block.first(block.size() - n);
  if (!useCrc) return lrc(body) == block.back();
  const std::uint16_t v = crc(body);
  return block[block.size() - 2] == static_cast<std::uint8_t>(v >> 8) &&
         block.back() == static_cast<std::uint8_t>(v);
}

}  // namespace k52::nt::t1

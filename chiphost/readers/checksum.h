// The rolling checksum of the FNX frames and the driver's timing frame:
// c := ((c xor b) << 1, eight bits) with bit 0 set when bit 7 of (c xor b)
// was clear. From 0, 0x01 gives 0x03 and 0x80 gives 0x00.
#pragma once

#include <cstdint>
#include <span>

namespace k52::chiphost {

constexpr std::uint8_t rollChecksum(std::uint8_t c, std::uint8_t b) {
  const std::uint8_t x = c ^ b;
  return static_cast<std::uint8_t>((x << 1) | ((x & 0x80) ? 0 : 1));
}

constexpr std::uint8_t rollChecksum(std::uint8_t c, std::span<const std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) c = rollChecksum(c, b);
  return c;
}

}  // namespace k52::chiphost

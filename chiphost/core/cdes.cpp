#include "chiphost/core/cdes.h"

#include <algorithm>

namespace k52::chiphost {
namespace {

constexpr std::array<std::uint8_t, 16> kS = {0x39, 0xAC, 0xA7, 0x60, 0x62, 0xC1, 0xCD, 0xBA,
                                             0x5C, 0x96, 0x90, 0x59, 0x05, 0x3B, 0x7A, 0x85};

std::uint8_t swapNibbles(std::uint8_t b) {
  return static_cast<std::uint8_t>(b << 4 | b >> 4);
}

// The key-dependent part of a round: key byte i mixes with left-half byte
// i mod h (h = half the block) and picks two bits of S into right-half byte
// i div h.
void substitute(std::uint8_t* b, std::size_t half, std::span<const std::uint8_t> key) {
  for (std::size_t i = 0; i < key.size(); ++i) {
    const std::uint8_t x = b[i % half] ^ key[i];
    const unsigned s = 2 * i % 8;
    b[half + i / half] ^=
        static_cast<std::uint8_t>(((0x80u >> s) & kS[x & 0x0F]) | ((0x40u >> s) & kS[x >> 4]));
  }
}

template <std::size_t N>
void swapHalves(std::uint8_t* b) {
  std::swap_ranges(b, b + N / 2, b + N / 2);
}

template <std::size_t N, typename Block>
void eachBlock(std::span<std::uint8_t> buffer, Block&& block) {
  for (std::size_t at = 0; at + N <= buffer.size(); at += N)
    block(std::span<std::uint8_t, N>(buffer.data() + at, N));
}

}  // namespace

void Cdes4Block(std::span<std::uint8_t, 4> block, std::uint32_t key) {
  const std::array<std::uint8_t, 4> k = {
      static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(key >> 8),
      static_cast<std::uint8_t>(key >> 16), static_cast<std::uint8_t>(key >> 24)};
  std::uint8_t* b = block.data();
  for (int round = 0; round < 32; ++round) {
    substitute(b, 2, k);
    b[2] ^= static_cast<std::uint8_t>((b[1] >> 1) | ((b[0] << 7) & 0x80));
    b[3] ^= swapNibbles(b[0]);
    b[2] ^= static_cast<std::uint8_t>((b[1] >> 1) | (b[0] & 0x80));
    b[3] ^= b[0];
    swapHalves<4>(b);
  }
  swapHalves<4>(b);
}

void Cdes8Block(std::span<std::uint8_t, 8> block, const Cdes8Key& key) {
  std::uint8_t* b = block.data();
  for (int round = 0; round < 16; ++round) {
    substitute(b, 4, key);
    b[4] ^= static_cast<std::uint8_t>((b[3] >> 1) | ((b[0] << 7) & 0x80));
    b[5] ^= swapNibbles(b[2]);
    b[6] ^= static_cast<std::uint8_t>((b[1] >> 1) | (b[0] & 0x80));
    b[7] ^= b[0];
    swapHalves<8>(b);
  }
  swapHalves<8>(b);
}

void Cdes4(std::span<std::uint8_t> buffer, std::uint32_t key) {
  eachBlock<4>(buffer, [key](std::span<std::uint8_t, 4> b) { Cdes4Block(b, key); });
}

void Cdes8(std::span<std::uint8_t> buffer, const Cdes8Key& key) {
  eachBlock<8>(buffer, [&key](std::span<std::uint8_t, 8> b) { Cdes8Block(b, key); });
}

void padBlocks(std::vector<std::uint8_t>& buffer, std::size_t blockSize) {
  if (buffer.size() % blockSize == 0) return;
  buffer.push_back(0x80);
  buffer.resize((buffer.size() + blockSize - 1) / blockSize * blockSize, 0x00);
}

void Cdes4Padded(std::vector<std::uint8_t>& buffer, std::uint32_t key) {
  padBlocks(buffer, 4);
  Cdes4(buffer, key);
}

void Cdes8Padded(std::vector<std::uint8_t>& buffer, const Cdes8Key& key) {
  padBlocks(buffer, 8);
  Cdes8(buffer, key);
}

}  // namespace k52::chiphost

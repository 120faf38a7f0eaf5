// The card server's two small block ciphers: `Cdes4` (4-byte blocks, 32-bit
// key) and `Cdes8` (8-byte blocks, 16-byte key). Both are Feistel networks
// with the same round function in every round, so one call enciphers and the
// same call again deciphers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace k52::chiphost {

using Cdes8Key = std::array<std::uint8_t, 16>;

void Cdes4Block(std::span<std::uint8_t, 4> block, std::uint32_t key);
void Cdes8Block(std::span<std::uint8_t, 8> block, const Cdes8Key& key);

// Plain form: every whole block of the buffer in order (electronic code
// book); a trailing partial block is left alone.
void Cdes4(std::span<std::uint8_t> buffer, std::uint32_t key);
void Cdes8(std::span<std::uint8_t> buffer, const Cdes8Key& key);

// Padded form: a buffer whose length is not a multiple of the block size gets
// 0x80 and then zero bytes up to the next multiple; then the plain form.
void Cdes4Padded(std::vector<std::uint8_t>& buffer, std::uint32_t key);
void Cdes8Padded(std::vector<std::uint8_t>& buffer, const Cdes8Key& key);

// The padding alone: 0x80 and zeros up to a multiple of `blockSize`, nothing
// when the length already is one.
void padBlocks(std::vector<std::uint8_t>& buffer, std::size_t blockSize);

}  // namespace k52::chiphost

// vpcd's framing: every message is a two-byte big-endian length and that many
// payload bytes, in both directions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace k52::sim {

inline constexpr std::size_t kMaxVpcdPayload = 0xFFFF;

// Length prefix + payload. The payload must not exceed kMaxVpcdPayload.
std::vector<std::uint8_t> encodeVpcdFrame(std::span<const std::uint8_t> payload);

// Reassembles frames from a byte stream that arrives in arbitrary pieces.
class FrameDecoder {
 public:
  void feed(std::span<const std::uint8_t> bytes);

  // The next complete payload, if one has arrived.
  std::optional<std::vector<std::uint8_t>> next();

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t start_ = 0;  // where the next frame begins in buffer_
};

}  // namespace k52::sim

// Wire format of window messages between processes of one prefix.
//
// A sender connects to the receiving process's socket, writes one frame and
// reads one reply; all integers little-endian:
//
//   offset size field
//   0      4    magic "K52M"
//   4      1    kind: 1 post to a window, 2 send to a window, 3 post to a thread
//   5      4    target: window handle (kinds 1, 2) or thread id (kind 3)
//   9      4    message number
//   13     8    wParam
//   21     8    lParam (for WM_COPYDATA: dwData)
//   29     4    payload length, at most kMaxPayload (for WM_COPYDATA: the data)
//   33     ...  payload
//
// Reply: 1 byte delivered (0 or 1), 8 bytes result (the window procedure's
// LRESULT of a sent message, 0 for posts).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace k52::win32::wire {

enum class Kind : std::uint8_t { Post = 1, Send = 2, PostThread = 3 };

inline constexpr std::size_t kHeaderSize = 33;
inline constexpr std::size_t kReplySize = 9;
inline constexpr std::uint32_t kMaxPayload = 1u << 20;

struct Frame {
  Kind kind = Kind::Post;
  std::uint32_t target = 0;
  std::uint32_t message = 0;
  std::uint64_t wParam = 0;
  std::int64_t lParam = 0;
  std::vector<std::uint8_t> payload;
};

struct Reply {
  bool delivered = false;
  std::int64_t result = 0;
};

std::vector<std::uint8_t> encode(const Frame& frame);

// The frame announced by a header, its payload still empty; nullopt for a
// wrong magic, an unknown kind or a payload longer than kMaxPayload. The
// caller reads payloadLength more bytes into payload.
struct Header {
  Frame frame;
  std::uint32_t payloadLength = 0;
};
std::optional<Header> decodeHeader(std::span<const std::uint8_t, kHeaderSize> bytes);

// A whole frame; nullopt unless `bytes` is exactly one valid frame.
std::optional<Frame> decode(std::span<const std::uint8_t> bytes);

std::array<std::uint8_t, kReplySize> encodeReply(const Reply& reply);
// nullopt when the delivered byte is neither 0 nor 1.
std::optional<Reply> decodeReply(std::span<const std::uint8_t, kReplySize> bytes);

}  // namespace k52::win32::wire

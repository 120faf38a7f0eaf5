// The bytes on a device socket: one request, then its reply, little-endian.
//
//   request  code u32, outSize u32, inLength u32, inLength input bytes
//   reply    ok u8 (1 or 0), outLength u32 (<= outSize), outLength bytes
//
// Lengths are at most kMaxDeviceBuffer; anything else ends the connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace k52::win32::devicewire {

inline constexpr std::size_t kMaxDeviceBuffer = 65536;
inline constexpr std::size_t kRequestHeader = 12;
inline constexpr std::size_t kReplyHeader = 5;

struct Request {
  std::uint32_t code = 0;
  std::uint32_t outSize = 0;
  std::vector<std::uint8_t> input;
};

struct Reply {
  bool ok = false;
  std::vector<std::uint8_t> output;
};

std::vector<std::uint8_t> encodeRequest(const Request& request);
std::vector<std::uint8_t> encodeReply(const Reply& reply);

// A request at the front of `bytes`: the request and the bytes it took, or
// nullopt while incomplete. Throws std::invalid_argument for a length over
// the limit.
std::optional<std::pair<Request, std::size_t>> decodeRequest(std::span<const std::uint8_t> bytes);
// The input length a request header announces; throws as above.
std::size_t requestInputLength(std::span<const std::uint8_t, kRequestHeader> header);
// The reply body length a reply header announces, checked against the
// request's outSize; throws std::invalid_argument when it exceeds it or the
// ok byte is neither 0 nor 1.
std::size_t replyOutputLength(std::span<const std::uint8_t, kReplyHeader> header,
                              std::uint32_t outSize);

}  // namespace k52::win32::devicewire

#include "platform/win32/messaging/wire.h"

#include <cstring>

namespace k52::win32::wire {
namespace {

constexpr std::uint8_t kMagic[4] = {'K', '5', '2', 'M'};

void put(std::uint8_t* at, std::uint64_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t get(const std::uint8_t* at, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value |= std::uint64_t{at[i]} << (8 * i);
  return value;
}

}  // namespace

std::vector<std::uint8_t> encode(const Frame& frame) {
  std::vector<std::uint8_t> out(kHeaderSize + frame.payload.size());
  std::memcpy(out.data(), kMagic, 4);
  out[4] = static_cast<std::uint8_t>(frame.kind);
  put(&out[5], frame.target, 4);
  put(&out[9], frame.message, 4);
  put(&out[13], frame.wParam, 8);
  put(&out[21], static_cast<std::uint64_t>(frame.lParam), 8);
  put(&out[29], frame.payload.size(), 4);
  if (!frame.payload.empty()) {
    std::memcpy(&out[kHeaderSize], frame.payload.data(), frame.payload.size());
  }
  return out;
}

std::optional<Header> decodeHeader(std::span<const std::uint8_t, kHeaderSize> bytes) {
  if (std::memcmp(bytes.data(), kMagic, 4) != 0) return std::nullopt;
  const std::uint8_t kind = bytes[4];
  if (kind < 1 || kind > 3) return std::nullopt;
  Header header;
  header.frame.kind = static_cast<Kind>(kind);
  header.frame.target = static_cast<std::uint32_t>(get(&bytes[5], 4));
  header.frame.message = static_cast<std::uint32_t>(get(&bytes[9], 4));
  header.frame.wParam = get(&bytes[13], 8);
  header.frame.lParam = static_cast<std::int64_t>(get(&bytes[21], 8));
  header.payloadLength = static_cast<std::uint32_t>(get(&bytes[29], 4));
  if (header.payloadLength > kMaxPayload) return std::nullopt;
  return header;
}

std::optional<Frame> decode(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kHeaderSize) return std::nullopt;
  auto header = decodeHeader(bytes.first<kHeaderSize>());
  if (!header || bytes.size() - kHeaderSize != header->payloadLength) return std::nullopt;
  header->frame.payload.assign(bytes.begin() + kHeaderSize, bytes.end());
  return std::move(header->frame);
}

std::array<std::uint8_t, kReplySize> encodeReply(const Reply& reply) {
  std::array<std::uint8_t, kReplySize> out{};
  out[0] = reply.delivered ? 1 : 0;
  put(&out[1], static_cast<std::uint64_t>(reply.result), 8);
  return out;
}

std::optional<Reply> decodeReply(std::span<const std::uint8_t, kReplySize> bytes) {
  if (bytes[0] > 1) return std::nullopt;
  return Reply{bytes[0] == 1, static_cast<std::int64_t>(get(&bytes[1], 8))};
}

}  // namespace k52::win32::wire

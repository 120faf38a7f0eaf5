#include "sim/vpcd/frame.h"

#include <cassert>

namespace k52::sim {

std::vector<std::uint8_t> encodeVpcdFrame(std::span<const std::uint8_t> payload) {
  assert(payload.size() <= kMaxVpcdPayload);
  std::vector<std::uint8_t> frame;
  frame.reserve(payload.size() + 2);
  frame.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
  frame.push_back(static_cast<std::uint8_t>(payload.size()));
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

void FrameDecoder::feed(std::span<const std::uint8_t> bytes) {
  // Drop what was consumed before growing, so the buffer stays within one
  // partial frame plus the newest read.
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
  start_ = 0;
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<std::vector<std::uint8_t>> FrameDecoder::next() {
  const std::size_t available = buffer_.size() - start_;
  if (available < 2) return std::nullopt;
  const std::size_t length = static_cast<std::size_t>(buffer_[start_]) << 8 | buffer_[start_ + 1];
  if (available < 2 + length) return std::nullopt;
  const auto begin = buffer_.begin() + static_cast<std::ptrdiff_t>(start_ + 2);
  std::vector<std::uint8_t> payload(begin, begin + static_cast<std::ptrdiff_t>(length));
  start_ += 2 + length;
  return payload;
}

}  // namespace k52::sim

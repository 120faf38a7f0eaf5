#include "sim/k52fw/frame_reader.h"

#include <utility>

namespace k52::sim {

std::optional<SerialFrame> FrameReader::feed(std::uint8_t byte) {
  if (lengthBytes_ < 2) {
    length_ = length_ << 8 | byte;
    if (++lengthBytes_ < 2 || length_ > 0) return std::nullopt;
  } else {
    if (length_ <= kMaxCommandBytes) command_.push_back(byte);
    if (++received_ < length_) return std::nullopt;
  }
  SerialFrame frame{std::exchange(command_, {}), length_ > kMaxCommandBytes};
  reset();
  return frame;
}

void FrameReader::reset() {
  lengthBytes_ = 0;
  length_ = 0;
  received_ = 0;
  command_.clear();
}

std::vector<std::uint8_t> serialFrame(const std::vector<std::uint8_t>& answer) {
  std::vector<std::uint8_t> frame{static_cast<std::uint8_t>(answer.size() >> 8),
                                  static_cast<std::uint8_t>(answer.size())};
  frame.insert(frame.end(), answer.begin(), answer.end());
  return frame;
}

}  // namespace k52::sim

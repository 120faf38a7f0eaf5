// Cuts the serial line's byte stream into commands: a two-byte big-endian
// length L, then L bytes. A frame longer than the terminal's buffer is
// read to its end and reported as overlong, so the stream stays in step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace k52::sim {

// The host's buffer holds 1048 bytes including the length.
inline constexpr std::size_t kMaxCommandBytes = 1046;

struct SerialFrame {
  std::vector<std::uint8_t> command;  // empty for L = 0 or an overlong frame
  bool overlong = false;
};

class FrameReader {
 public:
  // Takes one byte; returns the frame it completes, if any.
  std::optional<SerialFrame> feed(std::uint8_t byte);

  // Drops a partial frame (the line went quiet in the middle of one).
  void reset();
  bool midFrame() const { return lengthBytes_ > 0; }

 private:
  std::size_t lengthBytes_ = 0;
  std::size_t length_ = 0;
  std::size_t received_ = 0;
  std::vector<std::uint8_t> command_;
};

// [length][answer] for the line.
std::vector<std::uint8_t> serialFrame(const std::vector<std::uint8_t>& answer);

}  // namespace k52::sim

// Remembers the bytes the host sent to the keyboard, in the order they
// crossed the line, so a test can check what a driver wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "platform/clock/clock.h"

namespace k52::sim {

class HostByteRecorder {
 public:
  struct Entry {
    Duration at;
    std::uint8_t byte;
  };

  // Keeps the newest `capacity` bytes so a long simulation stays bounded.
  explicit HostByteRecorder(std::size_t capacity = 1 << 16) : capacity_(capacity) {}

  void record(Duration at, std::uint8_t byte);
  void clear() { entries_.clear(); }

  std::vector<std::uint8_t> bytes() const;
  const std::deque<Entry>& entries() const { return entries_; }

 private:
  std::size_t capacity_;
  std::deque<Entry> entries_;
};

}  // namespace k52::sim

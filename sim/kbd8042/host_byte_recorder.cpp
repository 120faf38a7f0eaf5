#include "sim/kbd8042/host_byte_recorder.h"

namespace k52::sim {

void HostByteRecorder::record(Duration at, std::uint8_t byte) {
  if (capacity_ == 0) return;
  if (entries_.size() == capacity_) entries_.pop_front();
  entries_.push_back(Entry{at, byte});
}

std::vector<std::uint8_t> HostByteRecorder::bytes() const {
  std::vector<std::uint8_t> out;
  out.reserve(entries_.size());
  for (const Entry& e : entries_) out.push_back(e.byte);
  return out;
}

}  // namespace k52::sim

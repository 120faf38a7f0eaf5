#include "ctapi/pcsc/terminal_table.h"

namespace k52::ctbridge {

std::optional<std::size_t> TerminalTable::find(std::uint32_t ctn) const {
  for (std::size_t i = 0; i < kSlots; ++i) {
    if (slots_[i].count > 0 && slots_[i].ctn == ctn) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> TerminalTable::firstFree() const {
  for (std::size_t i = 0; i < kSlots; ++i) {
    if (slots_[i].count == 0) return i;
  }
  return std::nullopt;
}

std::optional<std::uint32_t> TerminalTable::open(std::uint32_t ctn) {
  if (auto i = find(ctn)) return ++slots_[*i].count;
  auto free = firstFree();
  if (!free) return std::nullopt;
  slots_[*free] = {ctn, 1};
  return 1u;
}

std::optional<std::uint32_t> TerminalTable::close(std::uint32_t ctn) {
  auto i = find(ctn);
  if (!i) return std::nullopt;
  Slot& slot = slots_[*i];
  if (--slot.count == 0) slot.ctn = 0;
  return slot.count;
}

}  // namespace k52::ctbridge

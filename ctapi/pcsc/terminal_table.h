// The terminals a process has opened: 256 slots of {ctn, count}.
//
// A slot is in use while its count is above 0. Only slots in use hold a
// terminal number, so terminal number 0 is open only after CT_init(0), like
// any other number, and never stands for a free slot.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace k52::ctbridge {

class TerminalTable {
 public:
  struct Slot {
    std::uint32_t ctn = 0;
    std::uint32_t count = 0;
  };
  static constexpr std::size_t kSlots = 256;

  void clear() { slots_.fill({}); }

  // Counts one more opening of ctn; the new count, or nullopt when every slot
  // is taken by another terminal.
  std::optional<std::uint32_t> open(std::uint32_t ctn);

  // Counts one closing; the new count, or nullopt when ctn is not open.
  std::optional<std::uint32_t> close(std::uint32_t ctn);

  // The slot index of ctn, or nullopt when it is not open.
  std::optional<std::size_t> find(std::uint32_t ctn) const;

 private:
  std::optional<std::size_t> firstFree() const;

  std::array<Slot, kSlots> slots_{};
};

}  // namespace k52::ctbridge

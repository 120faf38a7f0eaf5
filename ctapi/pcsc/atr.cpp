#include "ctapi/pcsc/atr.h"

#include <algorithm>
#include <bit>

namespace k52::ctbridge {

std::span<const std::uint8_t> historicalBytes(std::span<const std::uint8_t> atr) {
  if (atr.size() < 2) return {};
  const std::size_t k = atr[1] & 0x0F;
  std::size_t pos = 1;  // the byte whose high nibble announces what follows
  for (;;) {
    const std::uint8_t indicator = atr[pos];
    const std::size_t present = std::popcount(static_cast<unsigned>(indicator >> 4));
    const bool moreFollow = indicator & 0x80;
    const std::size_t next = pos + present;  // TDi is the last one announced
    if (!moreFollow || next >= atr.size()) {
      const std::size_t start = std::min(next + 1, atr.size());
      return atr.subspan(start, std::min(k, atr.size() - start));
    }
    pos = next;
  }
}

}  // namespace k52::ctbridge

// A session of command APDUs against the purse card, and the ATR checker.
// Input: repeated [length byte][that many APDU bytes].
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "sim/card/atr.h"
#include "sim/card/purse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);

  if (const auto atr = k52::sim::parseAtr(input)) {
    if (atr->historical.data() < input.data() ||
        atr->historical.data() + atr->historical.size() > input.data() + input.size()) {
      std::abort();
    }
  }

  k52::sim::Card card = k52::sim::makePurseCard({.balance = 1234});
  card.powerOn();
  for (std::size_t at = 0; at < size;) {
    const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
    const auto response = card.process(input.subspan(at + 1, length));
    // A powered card always ends its answer with a status word.
    if (response.size() < 2) std::abort();
    at += 1 + length;
  }
  return 0;
}

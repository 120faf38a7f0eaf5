// Arbitrary blocks into the card's T=1 transport. Input: byte 0 sets how
// many waiting-time requests the card makes, then repeated [length byte]
// [that many block bytes]. Every answer must be a well-formed block.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "sim/card/purse.h"
#include "sim/card/t1_block.h"
#include "sim/card/t1_transport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> input(data, size);
  k52::sim::Card card = k52::sim::makePurseCard({.balance = 1234}, k52::sim::AtrProtocols::kT1);
  card.powerOn();
  k52::sim::T1Transport t1(card, 254);
  t1.takeLong(data[0] & 0x03, data[0]);
  for (std::size_t at = 1; at < size;) {
    const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
    const auto answer = t1.receive(input.subspan(at + 1, length));
    k52::sim::t1::Block block;
    if (k52::sim::t1::decode(answer, block) != k52::sim::t1::BlockError::kNone) std::abort();
    if (block.inf.size() > t1.ifsd()) std::abort();
    at += 1 + length;
  }
  return 0;
}

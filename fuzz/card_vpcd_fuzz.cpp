// The byte stream the vpcd driver sends to the card, arriving in pieces.
// Input: [piece size byte][stream...].
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "sim/card/purse.h"
#include "sim/vpcd/frame.h"
#include "sim/vpcd/session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = data[0] == 0 ? 1 : data[0];
  const std::span<const std::uint8_t> stream(data + 1, size - 1);

  k52::sim::Card card = k52::sim::makePurseCard({.balance = 1234}, k52::sim::AtrProtocols::kT1);
  k52::sim::FrameDecoder decoder;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    decoder.feed(stream.subspan(at, std::min(piece, stream.size() - at)));
    while (const auto payload = decoder.next()) {
      const auto reply = k52::sim::answerVpcd(card, *payload);
      if (reply && reply->size() > k52::sim::kMaxVpcdPayload) std::abort();
      if (reply) k52::sim::encodeVpcdFrame(*reply);
    }
  }
  return 0;
}

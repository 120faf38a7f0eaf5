// Answers-to-reset: the ready-made ones the simulated cards use, and the
// structural check every configured ATR has to pass before a card takes it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace k52::sim {

enum class AtrProtocols { kT0, kT1, kT0AndT1 };

// The simulator's ATR for the given protocols: direct convention, default
// timing, T=1 with a 254-byte IFSC, and historical bytes announcing selection
// by DF name. Carries TCK whenever T=1 is offered.
std::vector<std::uint8_t> readyAtr(AtrProtocols protocols);

struct AtrInfo {
  bool t0 = false;
  bool t1 = false;
  std::span<const std::uint8_t> historical;  // view into the parsed ATR
};

// Walks TS, T0, the interface bytes, the historical bytes and TCK. nullopt
// unless the length is exact, at most 33 bytes, and TCK (present whenever a
// protocol other than T=0 is indicated) checks out.
std::optional<AtrInfo> parseAtr(std::span<const std::uint8_t> atr);

}  // namespace k52::sim

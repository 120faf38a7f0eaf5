#include "sim/card/atr.h"

#include <bit>
#include <cstddef>

namespace k52::sim {
namespace {

constexpr std::size_t kMaxAtrLength = 33;
constexpr std::uint8_t kDirectConvention = 0x3B;
constexpr std::uint8_t kInverseConvention = 0x3F;

// Category indicator 80 (COMPACT-TLV follows); card service data: selection by
// full and partial DF name; card capabilities: DF selection by full name,
// one-byte data units, no chaining, extended lengths or logical channels.
constexpr std::uint8_t kHistorical[] = {0x80, 0x31, 0xC0, 0x73, 0x80, 0x01, 0x00};

std::uint8_t xorOf(std::span<const std::uint8_t> bytes) {
  std::uint8_t x = 0;
  for (std::uint8_t b : bytes) x ^= b;
  return x;
}

}  // namespace

std::vector<std::uint8_t> readyAtr(AtrProtocols protocols) {
  constexpr auto k = static_cast<std::uint8_t>(sizeof kHistorical);
  std::vector<std::uint8_t> atr;
  atr.reserve(33);  // the longest ATR there is
  atr.push_back(kDirectConvention);
  switch (protocols) {
    case AtrProtocols::kT0:
      // No interface bytes: T=0 and default parameters are implied.
      atr.push_back(k);
      break;
    case AtrProtocols::kT1:
      // TD1: T=1, TD2 follows; TD2: T=1 with TA3 (IFSC 254), TB3 (BWI 4, CWI 5).
      atr.insert(atr.end(), {static_cast<std::uint8_t>(0x80 | k), 0x81, 0x31, 0xFE, 0x45});
      break;
    case AtrProtocols::kT0AndT1:
      // TD1: T=0 first (the default), TD2 offers T=1 with the same parameters.
      atr.insert(atr.end(), {static_cast<std::uint8_t>(0x80 | k), 0x80, 0x31, 0xFE, 0x45});
      break;
  }
  atr.insert(atr.end(), std::begin(kHistorical), std::end(kHistorical));
  if (protocols != AtrProtocols::kT0) {
    atr.push_back(xorOf(std::span(atr).subspan(1)));
  }
  return atr;
}

std::optional<AtrInfo> parseAtr(std::span<const std::uint8_t> atr) {
  if (atr.size() < 2 || atr.size() > kMaxAtrLength) return std::nullopt;
  if (atr[0] != kDirectConvention && atr[0] != kInverseConvention) return std::nullopt;

  AtrInfo info;
  bool tckPresent = false;
  bool anyProtocol = false;
  std::size_t pos = 1;
  std::uint8_t indicator = atr[pos++];  // T0, then each TDi
  const std::size_t historicalCount = indicator & 0x0F;
  for (;;) {
    const bool tdFollows = indicator & 0x80;
    // TA, TB and TC (bits 5..7) precede TD.
    pos += static_cast<std::size_t>(std::popcount(static_cast<unsigned>(indicator & 0x70)));
    if (!tdFollows) break;
    if (pos >= atr.size()) return std::nullopt;
    indicator = atr[pos++];
    const unsigned protocol = indicator & 0x0F;
    if (protocol == 0) info.t0 = true;
    if (protocol == 1) info.t1 = true;
    // T=15 carries global parameters, not a transmission protocol.
    if (protocol != 15) anyProtocol = true;
    if (protocol != 0) tckPresent = true;
  }
  if (!anyProtocol) info.t0 = true;

  const std::size_t expected = pos + historicalCount + (tckPresent ? 1 : 0);
  if (expected != atr.size()) return std::nullopt;
  info.historical = atr.subspan(pos, historicalCount);
  if (tckPresent && xorOf(atr.subspan(1)) != 0) return std::nullopt;
  return info;
}

}  // namespace k52::sim

// The Geldkarte purse application: a DF whose record EF 0x18 holds the
// amounts in packed BCD of the smallest currency unit (12.34 -> 00 12 34).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/card/application.h"
#include "sim/card/atr.h"
#include "sim/card/card.h"

namespace k52::sim {

inline constexpr std::uint8_t kPurseAid[] = {0xD2, 0x76, 0x00, 0x00, 0x25, 0x45, 0x50, 0x01, 0x00};
inline constexpr std::uint8_t kPurseAmountsSfi = 0x18;

// Amounts in cents (pfennig); each must fit six BCD digits (<= 9999.99).
struct PurseConfig {
  std::uint32_t balance = 0;
  std::uint32_t maxBalance = 20000;
  std::uint32_t maxTransaction = 20000;
};

// Six BCD digits; throws std::out_of_range above 999999.
std::array<std::uint8_t, 3> packedBcd(std::uint32_t value);

class PurseApplication final : public Application {
 public:
  // Throws std::out_of_range if an amount does not fit its record field.
  explicit PurseApplication(const PurseConfig& config);

  std::span<const std::uint8_t> name() const override { return kPurseAid; }
  bool hasRecordFile(std::uint8_t sfi) const override { return sfi == kPurseAmountsSfi; }
  std::optional<std::vector<std::uint8_t>> record(std::uint8_t sfi,
                                                  std::uint8_t number) const override;

 private:
  // Balance, maximum balance, maximum transaction: 3 x 3 bytes.
  std::vector<std::uint8_t> amounts_;
};

// A card carrying just the purse, answering reset with readyAtr(protocols).
Card makePurseCard(const PurseConfig& config, AtrProtocols protocols = AtrProtocols::kT0AndT1);

}  // namespace k52::sim

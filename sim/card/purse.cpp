#include "sim/card/purse.h"

#include <memory>
#include <stdexcept>

namespace k52::sim {

std::array<std::uint8_t, 3> packedBcd(std::uint32_t value) {
  if (value > 999999) throw std::out_of_range("amount exceeds six BCD digits");
  std::array<std::uint8_t, 3> out{};
  for (int i = 2; i >= 0; --i) {
    const auto low = static_cast<std::uint8_t>(value % 10);
    const auto high = static_cast<std::uint8_t>(value / 10 % 10);
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(high << 4 | low);
    value /= 100;
  }
  return out;
}

PurseApplication::PurseApplication(const PurseConfig& config) {
  for (std::uint32_t amount : {config.balance, config.maxBalance, config.maxTransaction}) {
    const auto bcd = packedBcd(amount);
    amounts_.insert(amounts_.end(), bcd.begin(), bcd.end());
  }
}

std::optional<std::vector<std::uint8_t>> PurseApplication::record(std::uint8_t sfi,
                                                                  std::uint8_t number) const {
  if (sfi != kPurseAmountsSfi || number != 1) return std::nullopt;
  return amounts_;
}

Card makePurseCard(const PurseConfig& config, AtrProtocols protocols) {
  Card card(readyAtr(protocols));
  card.install(std::make_unique<PurseApplication>(config));
  return card;
}

}  // namespace k52::sim

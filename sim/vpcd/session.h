// What the card does with one vpcd message from the reader driver.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/card/card.h"

namespace k52::sim {

// One-byte messages are controls. Only the ATR request is answered.
inline constexpr std::uint8_t kVpcdPowerOff = 0x00;
inline constexpr std::uint8_t kVpcdPowerOn = 0x01;
inline constexpr std::uint8_t kVpcdReset = 0x02;
inline constexpr std::uint8_t kVpcdGetAtr = 0x04;

// Applies `payload` to the card and returns the reply payload, if the
// message calls for one. Longer payloads are command APDUs; an unpowered card
// answers them with an empty payload, which the driver reports as an error.
std::optional<std::vector<std::uint8_t>> answerVpcd(Card& card,
                                                    std::span<const std::uint8_t> payload);

}  // namespace k52::sim

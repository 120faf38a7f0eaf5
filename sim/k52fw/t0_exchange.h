// The terminal's end of T=0: sends a command's header, follows the card's
// procedure bytes — NULL waits, INS moves all remaining data bytes, INS
// XOR 0xFF the next one — and collects the response data and SW1 SW2.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/card/contact_card.h"

namespace k52::sim {

// `command`: CLA INS P1 P2 P3 and, for data to the card, P3 data bytes.
// The response data and SW1 SW2, or nullopt when the command is malformed,
// the card stays silent, or a procedure byte makes no sense.
std::optional<std::vector<std::uint8_t>> exchangeT0(ContactCard& card,
                                                    std::span<const std::uint8_t> command);

}  // namespace k52::sim

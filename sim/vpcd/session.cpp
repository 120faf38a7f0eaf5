#include "sim/vpcd/session.h"

#include "sim/card/status_words.h"
#include "sim/vpcd/frame.h"

namespace k52::sim {

std::optional<std::vector<std::uint8_t>> answerVpcd(Card& card,
                                                    std::span<const std::uint8_t> payload) {
  if (payload.empty()) return std::nullopt;
  if (payload.size() == 1) {
    switch (payload[0]) {
      case kVpcdPowerOff:
        card.powerOff();
        return std::nullopt;
      case kVpcdPowerOn:
        card.powerOn();
        return std::nullopt;
      case kVpcdReset:
        card.reset();
        return std::nullopt;
      case kVpcdGetAtr:
        return card.atr();
      default:
        // Controls this card does not know change nothing; the driver
        // expects no reply to a control.
        return std::nullopt;
    }
  }
  auto response = card.process(payload);
  if (response.size() > kMaxVpcdPayload) {
    // Cannot be framed; better an error status than a corrupt stream.
    return ResponseApdu{{}, sw::kNoPreciseDiagnosis}.bytes();
  }
  return response;
}

}  // namespace k52::sim

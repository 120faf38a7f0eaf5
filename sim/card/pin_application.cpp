#include "sim/card/pin_application.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace k52::sim {
namespace {

constexpr std::uint8_t kInsVerify = 0x20;
constexpr std::uint8_t kInsChangeReferenceData = 0x24;
constexpr std::uint16_t kBlocked = 0x6983;

std::uint16_t triesStatus(std::uint8_t left) {
  return static_cast<std::uint16_t>(0x63C0 | left);
}

}  // namespace

PinApplication::PinApplication(std::vector<std::uint8_t> reference)
    : reference_(std::move(reference)) {}

ResponseApdu PinApplication::process(const CommandApdu& command) {
  if (command.ins != kInsVerify && command.ins != kInsChangeReferenceData) {
    return statusOnly(sw::kInsNotSupported);
  }
  if (command.p1 != 0x00) return statusOnly(sw::kIncorrectP1P2);
  if (command.ins == kInsVerify) {
    // No data asks for the tries left.
    if (command.data.empty()) {
      return statusOnly(triesLeft_ == 0 ? kBlocked : verified_ ? sw::kOk : triesStatus(triesLeft_));
    }
    return verify(command.data);
  }
  if (command.data.size() != 2 * reference_.size()) return statusOnly(sw::kWrongLength);
  const ResponseApdu checked = verify(command.data.first(reference_.size()));
  if (checked.sw != sw::kOk) return checked;
  const auto next = command.data.subspan(reference_.size());
  reference_.assign(next.begin(), next.end());
  return checked;
}

ResponseApdu PinApplication::verify(std::span<const std::uint8_t> candidate) {
  if (triesLeft_ == 0) return statusOnly(kBlocked);
  if (std::ranges::equal(candidate, reference_)) {
    triesLeft_ = kTries;
    verified_ = true;
    return statusOnly(sw::kOk);
  }
  verified_ = false;
  --triesLeft_;
  return statusOnly(triesLeft_ == 0 ? kBlocked : triesStatus(triesLeft_));
}

Card makePinCard(std::vector<std::uint8_t> reference, AtrProtocols protocols) {
  Card card(readyAtr(protocols));
  card.install(std::make_unique<PinApplication>(std::move(reference)));
  return card;
}

}  // namespace k52::sim

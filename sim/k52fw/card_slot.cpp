#include "sim/k52fw/card_slot.h"

#include <utility>

#include "sim/k52fw/terminal_link.h"

namespace k52::sim {

void CardSlot::insert(std::shared_ptr<Card> card, T0Options t0) {
  pull();
  // A card comes into the slot without power, whatever it went through
  // before.
  card->powerOff();
  contacts_ = std::make_unique<ContactCard>(std::move(card), t0);
}

void CardSlot::pull() {
  if (!contacts_) return;
  contacts_->powerOff();
  contacts_.reset();
  if (onPulled_) onPulled_();
}

std::uint8_t CardSlot::statusByte() const {
  if (!contacts_) return link::kStatusNoCard;
  if (!contacts_->powered()) return link::kStatusInserted;
  const std::uint8_t kind =
      contacts_->protocol() == CardProtocol::kT1 ? link::kKindT1 : link::kKindT0;
  return link::kStatusInserted | link::kStatusAtrReceived | kind;
}

std::uint8_t CardSlot::cardType() const {
  if (!contacts_) return link::kCardTypeNone;
  if (!contacts_->powered()) return link::kCardTypeUnpowered;
  return contacts_->specificMode() ? link::kCardTypeSpecific : link::kCardTypeNegotiable;
}

}  // namespace k52::sim

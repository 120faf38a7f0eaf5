// The terminal's card slot: a card goes in or comes out at any time. The
// slot keeps the card's contacts and tells its owner when the card leaves.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "sim/card/card.h"
#include "sim/card/contact_card.h"

namespace k52::sim {

class CardSlot {
 public:
  // A card already in the slot is pulled first. The card starts unpowered.
  void insert(std::shared_ptr<Card> card, T0Options t0 = {});
  // Nothing happens when the slot is empty.
  void pull();

  // Called after a card has been pulled.
  void onPulled(std::function<void()> action) { onPulled_ = std::move(action); }

  bool present() const { return contacts_ != nullptr; }
  bool powered() const { return contacts_ && contacts_->powered(); }
  // nullptr while the slot is empty.
  ContactCard* contacts() { return contacts_.get(); }

  // The status answer's status byte and card type.
  std::uint8_t statusByte() const;
  std::uint8_t cardType() const;

 private:
  std::unique_ptr<ContactCard> contacts_;
  std::function<void()> onPulled_;
};

}  // namespace k52::sim

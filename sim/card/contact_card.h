// A card as the terminal's contacts see it: power and reset with the ATR,
// a PTS as the first exchange after the ATR, then T=0 characters or T=1
// blocks in the protocol the card runs. The card starts in the first
// protocol its ATR offers and stays in negotiable mode until a PTS puts it
// into specific mode (an ATR with TA2 starts it there).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "sim/card/card.h"
#include "sim/card/t0_transport.h"
#include "sim/card/t1_transport.h"

namespace k52::sim {

enum class CardProtocol { kT0, kT1 };

class ContactCard {
 public:
  explicit ContactCard(std::shared_ptr<Card> card, T0Options t0 = {});

  Card& card() { return *card_; }
  T0Transport& t0Transport() { return t0_; }
  T1Transport& t1Transport() { return t1_; }

  std::vector<std::uint8_t> powerOn();
  std::vector<std::uint8_t> reset();
  void powerOff();
  bool powered() const { return card_->powered(); }

  CardProtocol protocol() const { return protocol_; }
  bool specificMode() const { return specific_; }
  bool offers(CardProtocol protocol) const;

  // A PTS request (PTSS 0xFF first) in, the card's answer out: the request
  // itself when accepted, without PTS1 when the card keeps the default
  // rate. Empty — the card stays silent — for a broken request, a protocol
  // the card does not offer, or a PTS after the first exchange.
  std::vector<std::uint8_t> pts(std::span<const std::uint8_t> request);

  // Bytes in the card's protocol; a card spoken to in the other protocol
  // does not answer.
  std::vector<std::uint8_t> t0(std::span<const std::uint8_t> bytes);
  std::vector<std::uint8_t> t1(std::span<const std::uint8_t> block);

 private:
  std::vector<std::uint8_t> restarted(std::vector<std::uint8_t> atr);

  std::shared_ptr<Card> card_;
  T0Transport t0_;
  T1Transport t1_;
  bool offersT0_ = true;
  bool offersT1_ = false;
  CardProtocol first_ = CardProtocol::kT0;
  bool fixedByAtr_ = false;  // TA2 present
  CardProtocol protocol_ = CardProtocol::kT0;
  bool specific_ = false;
  bool exchanged_ = false;
};

}  // namespace k52::sim

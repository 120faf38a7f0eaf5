#include "sim/card/contact_card.h"

#include <bit>
#include <utility>

#include "sim/card/atr.h"
#include "sim/card/t1_block.h"

namespace k52::sim {
namespace {

constexpr std::uint8_t kPtss = 0xFF;
constexpr std::uint8_t kPts1Present = 0x10;
constexpr std::uint8_t kPts2Present = 0x20;
constexpr std::uint8_t kPts3Present = 0x40;
constexpr std::uint8_t kDefaultRate = 0x11;  // Fi 372, Di 1

struct AtrFacts {
  CardProtocol first = CardProtocol::kT0;
  bool ta2 = false;
  std::size_t ifsc = t1::kDefaultIfs;
};

// The interface bytes the contacts care about: the first protocol offered,
// TA2 (specific mode) and TA of the first T=1 level from 3 on (IFSC).
AtrFacts readAtr(std::span<const std::uint8_t> atr) {
  AtrFacts facts;
  bool firstSeen = false;
  bool t1Seen = false;
  std::size_t pos = 1;
  std::uint8_t indicator = atr[pos++];
  for (unsigned level = 1;; ++level) {
    if (indicator & 0x10) {
      if (level == 2) facts.ta2 = true;
      if (level >= 3 && t1Seen) {
        facts.ifsc = atr[pos];
        t1Seen = false;
      }
    }
    pos += static_cast<std::size_t>(std::popcount(static_cast<unsigned>(indicator & 0x70)));
    if (!(indicator & 0x80)) break;
    indicator = atr[pos++];
    const unsigned protocol = indicator & 0x0F;
    if (!firstSeen && protocol <= 1) {
      facts.first = protocol == 1 ? CardProtocol::kT1 : CardProtocol::kT0;
      firstSeen = true;
    }
    t1Seen = protocol == 1 && level >= 2;
  }
  return facts;
}

}  // namespace

ContactCard::ContactCard(std::shared_ptr<Card> card, T0Options t0)
    : card_(std::move(card)), t0_(*card_, t0), t1_(*card_, readAtr(card_->atr()).ifsc) {
  // The Card has checked its ATR already.
  const auto info = parseAtr(card_->atr());
  offersT0_ = info->t0;
  offersT1_ = info->t1;
  const AtrFacts facts = readAtr(card_->atr());
  first_ = facts.first;
  fixedByAtr_ = facts.ta2;
  protocol_ = first_;
}

bool ContactCard::offers(CardProtocol protocol) const {
  return protocol == CardProtocol::kT0 ? offersT0_ : offersT1_;
}

std::vector<std::uint8_t> ContactCard::powerOn() {
  return restarted(card_->powerOn());
}

std::vector<std::uint8_t> ContactCard::reset() {
  return restarted(card_->reset());
}

std::vector<std::uint8_t> ContactCard::restarted(std::vector<std::uint8_t> atr) {
  t0_.restart();
  t1_.restart();
  protocol_ = first_;
  specific_ = fixedByAtr_;
  exchanged_ = false;
  return atr;
}

void ContactCard::powerOff() {
  card_->powerOff();
}

std::vector<std::uint8_t> ContactCard::pts(std::span<const std::uint8_t> request) {
  if (!powered() || exchanged_ || specific_) return {};
  exchanged_ = true;
  if (request.size() < 3 || request[0] != kPtss) return {};
  const std::uint8_t pts0 = request[1];
  const std::size_t size = 3 + static_cast<std::size_t>(std::popcount(static_cast<unsigned>(
                                   pts0 & (kPts1Present | kPts2Present | kPts3Present))));
  if (request.size() != size || t1::lrc(request) != 0) return {};
  const unsigned t = pts0 & 0x0F;
  if (t > 1) return {};
  const CardProtocol wanted = t == 1 ? CardProtocol::kT1 : CardProtocol::kT0;
  if (!offers(wanted)) return {};
  protocol_ = wanted;
  specific_ = true;
  // Only the default rate is on offer; anything else is answered without
  // PTS1, which keeps it. PTS2 and PTS3 are never confirmed.
  const bool rateAccepted = (pts0 & kPts1Present) && request[2] == kDefaultRate;
  std::vector<std::uint8_t> answer{
      kPtss, static_cast<std::uint8_t>(t | (rateAccepted ? kPts1Present : 0))};
  if (rateAccepted) answer.push_back(kDefaultRate);
  answer.push_back(t1::lrc(answer));
  return answer;
}

std::vector<std::uint8_t> ContactCard::t0(std::span<const std::uint8_t> bytes) {
  if (protocol_ != CardProtocol::kT0) return {};
  exchanged_ = true;
  return t0_.receive(bytes);
}

std::vector<std::uint8_t> ContactCard::t1(std::span<const std::uint8_t> block) {
  if (protocol_ != CardProtocol::kT1) return {};
  exchanged_ = true;
  return t1_.receive(block);
}

}  // namespace k52::sim

#include "tools/purse/purse_tool.h"

#include "tools/purse/purse_commands.h"

namespace k52::balview {

std::string PurseTool::displayText() const {
  if (showsBalance()) return formatBalance(balance_);
  return std::string(loadString(currentMessage_));
}

void PurseTool::test(const std::function<void()>& repaint) {
  // The old balance goes before the waiting message is painted, so that
  // nothing stale stays on the display while the card is read.
  balance_ = kNoBalance;
  currentMessage_ = kIdsPleaseWait;
  repaint();

  const int message = readCard();
  if (showsBalance()) {
    repaint();
  } else if (message != currentMessage_) {
    currentMessage_ = message;
    repaint();
  }
}

int PurseTool::readCard() {
  CardState state = cardStatus(ct_);
  if (state == CardState::NoCard) return kIdsNoCard;
  if (!cardReset(ct_)) return kIdsInterfaceFailed;
  state = cardStatus(ct_);
  switch (state) {
    case CardState::NoCard:
      return kIdsNoCard;
    case CardState::Present:
      return kIdsNotActivated;
    case CardState::Active:
      return readBalance();
    case CardState::Unknown:
      break;
  }
  return kIdsUnknownStatus;
}

int PurseTool::readBalance() {
  if (!selectPurse(ct_)) return kIdsNotPurse;
  const auto record = readBalanceRecord(ct_);
  // A record too short to hold the amount was not read either.
  if (!record || record->size() < 3) return kIdsNotPurse;
  const auto amount = decodeBalance(std::span(*record).first<3>());
  if (!amount) return kIdsBadAmount;
  balance_ = *amount;
  return kIdsNone;
}

}  // namespace k52::balview

// What the main window shows and what its Test button does, without the
// window: the balance and the current message, and the steps that read them
// from the card.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tools/purse/balance.h"
#include "tools/purse/ctapi_binding.h"
#include "tools/purse/strings.h"

namespace k52::balview {

class PurseTool {
 public:
  explicit PurseTool(CtApiBinding& ct) : ct_(ct) {}

  // The amount in pfennig, or kNoBalance.
  std::int32_t balance() const { return balance_; }
  // The string number of the message shown while there is no balance.
  int currentMessage() const { return currentMessage_; }
  bool showsBalance() const { return balance_ != kNoBalance; }
  // The balance formatted for the display, or the text of the message.
  std::string displayText() const;

  // The Test button: shows "Bitte warten...", asks the terminal about the
  // card, resets it, reads the balance record and ends with the balance or a
  // message. `repaint` is called whenever what is shown changes, first for
  // the waiting message before the terminal is asked anything.
  void test(const std::function<void()>& repaint);

 private:
  // The message the card's answers lead to, or kIdsNone with balance_ set.
  int readCard();
  int readBalance();

  CtApiBinding& ct_;
  std::int32_t balance_ = kNoBalance;
  int currentMessage_ = kIdsNone;
};

}  // namespace k52::balview

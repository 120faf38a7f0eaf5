#include "sim/k52fw/pin_dialogue.h"

#include <utility>

namespace k52::sim {

PinDialogue::PinDialogue(const PinCommand& command)
    : minDigits_(command.minDigits),
      maxDigits_(command.maxDigits),
      entriesWanted_(command.entries()) {}

void PinDialogue::key(KeypadKey key) {
  if (end_) return;
  if (isDigit(key)) {
    if (typing_.size() < maxDigits_) typing_.push_back(static_cast<std::uint8_t>(key));
    return;
  }
  switch (key) {
    case KeypadKey::kClear:
      if (!typing_.empty()) typing_.pop_back();
      return;
    case KeypadKey::kCancel:
      end_ = PinDialogueEnd::kCancelled;
      return;
    case KeypadKey::kEnter:
      if (typing_.size() < minDigits_) return;
      entries_.push_back(std::exchange(typing_, {}));
      if (entries_.size() < entriesWanted_) return;
      end_ = entriesWanted_ == 3 && entries_[1] != entries_[2] ? PinDialogueEnd::kMismatch
                                                               : PinDialogueEnd::kDone;
      return;
    default:
      return;
  }
}

std::vector<std::vector<std::uint8_t>> PinDialogue::pins() const {
  if (end_ != PinDialogueEnd::kDone) return {};
  if (entriesWanted_ == 3) return {entries_[0], entries_[1]};
  return entries_;
}

}  // namespace k52::sim

// What the terminal does with the keys while it asks for PINs: digits up
// to the command's maximum, Backspace takes the last one back, Enter ends
// an entry once it has the minimum, Esc gives up. A modify asks for the
// old PIN, the new one, and the new one again, which must match. Time is
// the firmware's business; this only counts keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/k52fw/keypad.h"
#include "sim/k52fw/pin_command.h"

namespace k52::sim {

enum class PinDialogueEnd { kDone, kCancelled, kMismatch };

class PinDialogue {
 public:
  explicit PinDialogue(const PinCommand& command);

  void key(KeypadKey key);

  std::optional<PinDialogueEnd> end() const { return end_; }
  // The entry being typed, from 0.
  std::size_t entry() const { return entries_.size(); }
  // When done: the PINs for the card, the new one not repeated.
  std::vector<std::vector<std::uint8_t>> pins() const;

 private:
  std::size_t minDigits_;
  std::size_t maxDigits_;
  std::size_t entriesWanted_;
  std::vector<std::uint8_t> typing_;
  std::vector<std::vector<std::uint8_t>> entries_;
  std::optional<PinDialogueEnd> end_;
};

}  // namespace k52::sim

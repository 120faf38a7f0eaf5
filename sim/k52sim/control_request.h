// What a second process asks of a running k52sim: the subcommands of its
// command line, sent as one line of words over the control connection.
//
//   insert CARD     put a card into the slot (see card_description.h), replacing
//                   one that is there
//   pull            take the card out
//   keys KEYS       press keypad keys now, one every 200 ms
//   pin-keys KEYS   press these keys when the next PIN entry starts
//   status          whether a card is in the slot and a PC is connected
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sim/k52fw/card_description.h"
#include "sim/k52fw/keypad.h"

namespace k52::sim {

struct ControlRequest {
  enum class Action { kInsert, kPull, kKeys, kPinKeys, kStatus };
  Action action = Action::kStatus;
  CardDescription card;         // kInsert
  std::vector<KeypadKey> keys;  // kKeys, kPinKeys
};

// The longest control line the keyboard reads, without its newline.
inline constexpr std::size_t kMaxControlLine = 256;

// The subcommand and its argument, or an error message.
std::variant<ControlRequest, std::string> parseControlRequest(
    std::span<const std::string_view> words);
// The same from a control line: words separated by single spaces.
std::variant<ControlRequest, std::string> parseControlLine(std::string_view line);

}  // namespace k52::sim

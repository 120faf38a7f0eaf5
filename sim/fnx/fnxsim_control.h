// What a second process asks of a running fnxsim: one line of words over its
// control socket.
//
//   insert [2] CARD    put a card into slot 1 (or 2 of a twin), replacing one
//   pull [2]           take it out
//   drop-answers N     execute the next N commands and send no answer
//   drop-commands N    lose the next N commands before they run
//   garble N           spoil the checksum of the next N answers
//   mute [N]           ignore the next N frames; without N until "mute 0"
//   share MS           (--driver) lend the line to the other device for MS
//   status             card, speed, counter and executions per command
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "sim/k52fw/card_description.h"

namespace k52::sim {

struct FnxControl {
  enum class Action {
    kInsert,
    kPull,
    kDropAnswers,
    kDropCommands,
    kGarble,
    kMute,
    kShare,
    kStatus
  };
  Action action = Action::kStatus;
  int slot = 0;
  CardDescription card;  // kInsert
  unsigned count = 0;    // drop-*, garble, mute (0 = until unmuted), share ms
  bool unmute = false;   // "mute 0"
};

inline constexpr std::size_t kMaxFnxControlLine = 256;

std::variant<FnxControl, std::string> parseFnxControl(std::span<const std::string_view> words);
// Words separated by single spaces, at most kMaxFnxControlLine characters.
std::variant<FnxControl, std::string> parseFnxControlLine(std::string_view line);

}  // namespace k52::sim

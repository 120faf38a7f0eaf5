// What REQUEST ICC and EJECT ICC share: the waiting time and prompt from the
// data field, the prompt on a reader's display, and the once-a-second wait.
#pragma once

#include <functional>
#include <string>

#include "ctapi/pcsc/data_objects.h"
#include "ctapi/pcsc/job.h"

namespace k52::ctbridge {

struct WaitOptions {
  std::uint32_t waitMs = 0;
  bool timerObject = false;  // the time came as a tagged timer object
  std::optional<std::string> prompt;
};

// Reads the one-byte time or the display and timer objects. `who` and
// `command` name the command in the traces ("RequestICC", "CT_Request").
ObjectVerdict readWaitOptions(Job& job, const char* who, const char* command, WaitOptions& out);

// Shows the prompt as P2 asks when the reader has a display; true when the
// display is in use.
bool showPrompt(Job& job, Connection& conn, const char* who, const WaitOptions& options,
                const char* defaultPrompt);

// Polls the card state once a second, at least once, while the time has not
// run out and `keepWaiting` holds; clears the display afterwards.
CardStatus waitForCard(Job& job, Connection& conn, std::uint32_t waitMs, bool display,
                       const std::function<bool(std::uint32_t state)>& keepWaiting);

}  // namespace k52::ctbridge

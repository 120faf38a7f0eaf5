// What REQUEST ICC and EJECT ICC share: the waiting time and prompt from the
// data field, the prompt on a reader's display, and the once-a-second wait.
#pragma once

#include <optional>
#include <string>

#include "ctapi/pcsc/data_objects.h"
#include "ctapi/pcsc/job.h"

namespace k52::ctbridge {

struct WaitOptions {
  std::uint32_t waitMs = 0;
  bool timerObject = false;  // the time came as a tagged timer object
  std::optional<std::string> prompt;
};

// How REQUEST ICC and EJECT ICC name themselves in the trace, what they show,
// and how long they wait.
struct WaitCommand {
  const char* who;      // "RequestICC"
  const char* command;  // "CT_Request"
  const char* defaultPrompt;
  bool (*keepWaiting)(std::uint32_t state);
};

// Reads the waiting time and prompt from the data field, shows the prompt as
// P2 asks when the reader has a display, then polls the card state once a
// second, at least once, while the time has not run out and the command's
// condition holds. nullopt when the data field is refused: the response then
// holds the status word and the connection is released.
std::optional<CardStatus> promptAndWait(Job& job, Connection& conn, const WaitCommand& command,
                                        WaitOptions& options);

}  // namespace k52::ctbridge

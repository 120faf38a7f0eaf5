#include "ctapi/pcsc/card_wait.h"

#include <chrono>

namespace k52::ctbridge {
namespace {

// This library drives no display of its own: on a reader with one, the call
// with a text shows it and the call without clears it.
void displayPrompt(Connection&, const std::string& = {}) {}

ObjectVerdict readWaitOptions(Job& job, const char* who, const char* command, WaitOptions& out) {
  Trace& trace = job.trace;
  const Command& cmd = job.cmd;
  if (cmd.lc == 1) {
    trace.line("%s: only timer value given", who);
    out.waitMs = cmd.data[0] * 1000u;
    trace.line("%s:  TimerValue=%x", command, out.waitMs);
    return kAccept;
  }
  if (cmd.lc < 2) return kAccept;
  trace.line("%s: ASN.1 object given", who);
  return walkDataObjects(cmd.data, [&](std::uint8_t tag, std::span<const std::uint8_t> value) {
    switch (tag) {
      case 0x50:
        trace.line("%s: display message given", who);
        out.prompt = std::string(value.begin(), value.end());
        return kAccept;
      case 0x80:
        trace.line("%s: timeout value given", who);
        if (value.size() != 1) return kWrongLength;
        out.waitMs = value[0] * 1000u;
        out.timerObject = true;
        return kAccept;
      default:
        return kNotAllowed;
    }
  });
}

bool showPrompt(Job& job, Connection& conn, const char* who, const WaitOptions& options,
                const char* defaultPrompt) {
  bool display = readAuthDevice(conn, job.trace) & pcsc::kAuthDisplay;
  switch (job.cmd.p2 >> 4) {
    case 0xF:
      job.trace.line("%s: no display message allowed", who);
      display = false;
      break;
    case 0x0:
      if (display) {
        displayPrompt(conn);
        displayPrompt(conn, options.prompt.value_or(defaultPrompt));
      }
      break;
  }
  return display;
}

CardStatus waitForCard(Job& job, Connection& conn, std::uint32_t waitMs, bool display,
                       bool (*keepWaiting)(std::uint32_t state)) {
  Clock& clock = job.env.clock;
  const std::uint32_t start = clock.tickCountMs();
  std::uint32_t elapsed = 0;
  CardStatus state;
  do {
    clock.sleepFor(std::chrono::milliseconds(1000));
    elapsed = clock.tickCountMs() - start;
    state = conn.query();
    job.trace.line("Time elapsed=%d", static_cast<int>(elapsed));
    job.trace.line("dwCardState=%x", state.state);
  } while (elapsed < waitMs && keepWaiting(state.state));
  if (display) displayPrompt(conn);
  return state;
}

}  // namespace

std::optional<CardStatus> promptAndWait(Job& job, Connection& conn, const WaitCommand& command,
                                        WaitOptions& options) {
  job.trace.line("%s:  lenc=%x", command.command, job.cmd.lc);
  if (ObjectVerdict v = readWaitOptions(job, command.who, command.command, options); v != kAccept) {
    job.response.status(v >> 8, v & 0xFF);
    conn.release(pcsc::kLeaveCard);
    return std::nullopt;
  }
  const bool display = showPrompt(job, conn, command.who, options, command.defaultPrompt);
  return waitForCard(job, conn, options.waitMs, display, command.keepWaiting);
}

}  // namespace k52::ctbridge

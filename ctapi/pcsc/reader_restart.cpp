#include <chrono>

#include "ctapi/pcsc/handlers.h"

namespace k52::ctbridge {

// Switches the card off, starts the resource-manager context anew after the
// reader had time to come back, and touches the card once more.
Outcome restartReader(Job& job) {
  Trace& trace = job.trace;
  trace.line("CT-Cmd: Eject ICC");
  if (!addressesIcc1(job, "CT-Cmd: Eject ICCx not successful")) return Outcome::Done;

  pcsc::Api& pcsc = job.env.pcsc;
  {
    Connection conn(job);
    trace.line("SCardConnect:  lResult=%x", conn.connect(pcsc::kShared, pcsc::kProtocolDefault));
    trace.line("SCardDisconnect:  lResult=%x", conn.release(pcsc::kUnpowerCard));
  }
  trace.line("SCardReleaseContext");
  pcsc.releaseContext(job.context);
  job.context = 0;
  job.env.clock.sleepFor(std::chrono::milliseconds(4000));
  trace.line("SCardEstablishContext");
  pcsc::Context fresh = 0;
  if (pcsc.establishContext(pcsc::kScopeUser, fresh) == pcsc::kSuccess) job.context = fresh;

  Connection conn(job);
  trace.line("SCardConnect:  lResult=%x", conn.connect(pcsc::kShared, pcsc::kProtocolT1));
  if (conn.connected()) conn.queryTraced();
  const pcsc::Status rv = conn.release(pcsc::kLeaveCard);
  trace.line("SCardDisconnect:  lResult=%x", rv);
  job.response.set({});
  return releaseOutcome(rv);
}

}  // namespace k52::ctbridge

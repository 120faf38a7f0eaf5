#include "ctapi/pcsc/atr.h"
#include "ctapi/pcsc/handlers.h"

namespace k52::ctbridge {
namespace {

Outcome resetIcc1(Job& job) {
  Trace& trace = job.trace;
  Connection conn(job);
  pcsc::Status rv = conn.connect(pcsc::kDirect, pcsc::kProtocolUndefined);
  if (rv != pcsc::kSuccess) {
    job.response.status(0x62, 0x00);
    trace.line("CT-Cmd: Reset ICC1 not successful - no card");
    return Outcome::Failed;
  }
  trace.line("SCardConnect:  lResult=%x", rv);
  trace.line("CT-Cmd: Reset ICC1");
  conn.release(pcsc::kResetCard);
  conn.connect(pcsc::kDirect, pcsc::kProtocolUndefined);
  CardStatus state;
  for (int i = 0; i < 2; ++i) {
    state = conn.query();
    trace.line("SCardConnect:  lResult=%x", state.result);
    trace.line("SCardConnect:  ActiveProtocol=%x", state.protocol);
  }

  if (state.ok() && state.state > pcsc::kAbsent && state.atrLen > 1) {
    trace.line("CT_Reset:  *plenr=%x", job.response.capacity());
    switch (job.cmd.p2) {
      case 0x00:
        job.response.status(0x90, 0x01);
        break;
      case 0x01:
        job.response.dataAndStatus(state.atr(), 0x90, 0x01);
        break;
      case 0x02:
        job.response.dataAndStatus(historicalBytes(state.atr()), 0x90, 0x01);
        break;
      default:  // the card is reset, but there is no such thing to return
        job.response.status(0x6A, 0x00);
        break;
    }
  } else {
    job.response.status(0x62, 0x00);
    trace.line("CT-Cmd: Reset ICC1 not successful");
  }
  return releaseOutcome(conn.release(pcsc::kLeaveCard));
}

}  // namespace

Outcome resetCt(Job& job) {
  switch (job.cmd.p1) {
    case 0x00:
      job.trace.line("CT-Cmd: Reset CT");
      job.response.status(0x90, 0x00);
      return Outcome::Done;
    case 0x01:
      return resetIcc1(job);
    default:
      job.response.status(0x64, 0x00);
      job.trace.line("CT-Cmd: Reset ICCx not successful");
      return Outcome::Done;
  }
}

}  // namespace k52::ctbridge

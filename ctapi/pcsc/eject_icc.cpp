#include "ctapi/pcsc/card_wait.h"
#include "ctapi/pcsc/handlers.h"

namespace k52::ctbridge {
namespace {

constexpr WaitCommand kEject{"EjectICC", "CT_Eject", "  Please remove \r    your card   ",
                             [](std::uint32_t state) { return state > pcsc::kAbsent; }};

}  // namespace

Outcome ejectIcc(Job& job) {
  Trace& trace = job.trace;
  trace.line("CT-Cmd: Eject ICC");
  if (!addressesIcc1(job, "CT-Cmd: Eject ICCx not successful")) return Outcome::Done;

  // Switch the card off, then look at the reader again.
  Connection conn(job);
  trace.line("SCardConnect:  lResult=%x", conn.connect(pcsc::kDirect, pcsc::kProtocolUndefined));
  trace.line("SCardDisconnect:  lResult=%x", conn.release(pcsc::kUnpowerCard));
  trace.line("SCardConnect:  lResult=%x", conn.connect(pcsc::kDirect, pcsc::kProtocolUndefined));
  CardStatus card;
  if (conn.connected()) card = conn.queryTraced();
  if (!card.ok() || card.state <= pcsc::kAbsent) {
    trace.line("EjectICC: card ejected");
    job.response.status(0x90, 0x00);
    if (!conn.connected()) return Outcome::Failed;
    return releaseOutcome(conn.release(pcsc::kLeaveCard));
  }

  trace.line("EjectICC: card in the reader");
  WaitOptions options;
  const auto waited = promptAndWait(job, conn, kEject, options);
  if (!waited) return Outcome::Done;
  card = *waited;

  if (card.state == pcsc::kAbsent) {
    trace.line("EjectICC: card removed within the specified time");
    job.response.status(0x90, 0x01);
  } else {
    trace.line("EjectICC: card not removed within the specified time");
    job.response.status(0x62, 0x00);
    if (job.cmd.p2 & 0x04) {
      trace.line("EjectICC: but delivery = keep is given");
      job.response.status(0x90, 0x00);
    }
    if (!options.timerObject) {
      trace.line("EjectICC: but no timer object is given");
      job.response.status(0x90, 0x00);
    }
  }
  const pcsc::Status rv = conn.release(pcsc::kLeaveCard);
  trace.line("SCardDisconnect:  lResult=%x", rv);
  return releaseOutcome(rv);
}

}  // namespace k52::ctbridge

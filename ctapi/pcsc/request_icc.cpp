#include "ctapi/pcsc/atr.h"
#include "ctapi/pcsc/card_wait.h"
#include "ctapi/pcsc/handlers.h"

namespace k52::ctbridge {
namespace {

constexpr WaitCommand kRequest{"RequestICC", "CT_Request", "  Please insert \r    your card   ",
                               [](std::uint32_t state) { return state == pcsc::kAbsent; }};

CardStatus queryAfterPowerUp(Connection& conn, Trace& trace) {
  CardStatus s = conn.query();
  trace.line("SCardState:  lResult=%x", s.result);
  trace.line("SCardState:  dwActiveProtocol=%x", s.protocol);
  trace.line("SCardState:  dwCardState=%x", s.state);
  trace.line("SCardState:  dwAtrLen=%x", s.atrLen);
  return s;
}

// Answers with what the low nibble of P2 asks for from the powered card.
void answerWithAtr(Job& job, const CardStatus& card) {
  Trace& trace = job.trace;
  switch (job.cmd.p2 & 0x0F) {
    case 0:
      trace.line("RequestICC: nothing to be returned");
      job.response.status(0x90, 0x01);
      break;
    case 1:
      trace.line("RequestICC: return the complete ATR");
      job.response.dataAndStatus(card.atr(), 0x90, 0x01);
      break;
    case 2:
      trace.line("RequestICC: return the only the Historical Bytes");
      job.response.dataAndStatus(historicalBytes(card.atr()), 0x90, 0x01);
      break;
    default:  // the card is up, but there is no such thing to return
      job.response.status(0x6A, 0x00);
      break;
  }
}

}  // namespace

Outcome requestIcc(Job& job) {
  Trace& trace = job.trace;
  trace.line("CT-Cmd: Request ICC");
  if (!addressesIcc1(job, "CT-Cmd: Request ICCx not successful")) return Outcome::Done;

  Connection conn(job);
  trace.line("SCardConnect:  lResult=%x", conn.connect(pcsc::kDirect, pcsc::kProtocolUndefined));
  CardStatus card;
  if (conn.connected()) card = conn.queryTraced();

  std::uint32_t changed = 0;
  const pcsc::Status flagRead = conn.readAttribute32(pcsc::kAttrIccPresented, changed);
  trace.line("SCardGetAttrib:  lResult=%x", flagRead);
  trace.line("SCardGetAttrib:  dwPresAttrib=%x", changed);
  // A reader that cannot tell whether the card changed leaves it to the card
  // state: a card that is up counts as the one already activated.
  if (card.state >= pcsc::kSwallowed && (flagRead != pcsc::kSuccess || changed == 0)) {
    trace.line("RequestICC: card already inserted and activated");
    job.response.status(0x62, 0x01);
    return releaseOutcome(conn.release(pcsc::kLeaveCard));
  }

  trace.line("RequestICC: no card in the reader");
  WaitOptions options;
  const auto waited = promptAndWait(job, conn, kRequest, options);
  if (!waited) return Outcome::Done;
  card = *waited;

  if (card.state < pcsc::kPresent) {
    trace.line("RequestICC: no card inserted within the specified time");
    job.response.status(0x62, 0x00);
    return releaseOutcome(conn.release(pcsc::kLeaveCard));
  }
  if (card.state <= pcsc::kSwallowed) {
    conn.release(pcsc::kResetCard);
    const pcsc::Status rv = conn.connect(pcsc::kExclusive, pcsc::kProtocolT0OrT1);
    if (rv == pcsc::kSuccess) card = queryAfterPowerUp(conn, trace);
    if (rv != pcsc::kSuccess || !card.ok()) {
      conn.release(pcsc::kLeaveCard);
      trace.line("Reset not successful");
      job.response.status(0x64, 0x00);
      return Outcome::Done;
    }
  }

  card = queryAfterPowerUp(conn, trace);
  answerWithAtr(job, card);
  if (card.atrLen == 0) {
    const pcsc::Status rv = conn.release(pcsc::kLeaveCard);
    trace.line("RequestICC: no ATR available from the card");
    job.response.status(0x64, 0x00);
    return releaseOutcome(rv);
  }
  return releaseOutcome(conn.release(pcsc::kLeaveCard));
}

}  // namespace k52::ctbridge

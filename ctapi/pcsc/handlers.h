// The CT-BCS commands the PC/SC library executes on its reader, and the card
// path. Each handler works on a fresh connection that it releases before it
// returns; Failed makes CT_data return ERR_HTSI.
#pragma once

#include "ctapi/pcsc/job.h"

namespace k52::ctbridge {

Outcome resetCt(Job& job);                 // INS 0x10, 0x11
Outcome requestIcc(Job& job);              // INS 0x12
Outcome getStatus(Job& job);               // INS 0x13
Outcome ejectIcc(Job& job);                // INS 0x15
Outcome restartReader(Job& job);           // INS 0xFF
Outcome performVerification(Job& job);     // INS 0x18
Outcome modifyVerificationData(Job& job);  // INS 0x19

// Whether a PIN command's answer is the terminal's own: 64 00 (time-out),
// 64 01 (cancelled) or 64 02 (other).
bool isTerminalAnswer(std::span<const std::uint8_t> answer);

// The terminal has one card unit, ICC1: a command for any other unit is
// answered with 6A 00 and `refusal` traced. True when P1 names ICC1.
bool addressesIcc1(Job& job, const char* refusal);

// The outcome of a final release: Done when it succeeded.
inline Outcome releaseOutcome(pcsc::Status rv) {
  return rv == pcsc::kSuccess ? Outcome::Done : Outcome::Failed;
}

}  // namespace k52::ctbridge

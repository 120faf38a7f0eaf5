// T=0: command APDUs of cases 1 to 4 as command TPDUs, and the check of the
// answer (data, then SW1 SW2) the reader collected.
#include <cstring>

#include "platform/smclib/internal.h"

namespace k52::nt {
namespace {

constexpr ULONG kHeader = 4;  // CLA INS P1 P2
constexpr ULONG kMaxShort = 256;

}  // namespace

NTSTATUS SmartcardT0Request(PSMARTCARD_EXTENSION SmartcardExtension) {
  PSMARTCARD_EXTENSION ext = SmartcardExtension;
  NTSTATUS status;
  const std::span<const UCHAR> apdu = smc::requestData(*ext, &status);
  if (!NT_SUCCESS(status)) return status;
  if (smc::replyData(*ext).size() < 2) return STATUS_BUFFER_TOO_SMALL;
  if (apdu.size() < kHeader) return STATUS_INVALID_PARAMETER;

  // The TPDU is the APDU with P3 = 0 (case 1), P3 = Le (case 2) or without
  // Le (case 4); an APDU of any other shape is refused.
  ULONG lc = 0;
  ULONG le = 0;
  ULONG tpduLength = apdu.size();
  if (apdu.size() == kHeader) {
    tpduLength = kHeader + 1;
  } else if (apdu.size() == kHeader + 1) {
    le = apdu[kHeader] ? apdu[kHeader] : kMaxShort;
  } else {
    lc = apdu[kHeader];
    if (lc == 0) return STATUS_INVALID_PARAMETER;
    if (apdu.size() == kHeader + 2 + lc) {
      le = apdu[kHeader + 1 + lc] ? apdu[kHeader + 1 + lc] : kMaxShort;
      tpduLength = kHeader + 1 + lc;
    } else if (apdu.size() != kHeader + 1 + lc) {
      return STATUS_INVALID_PARAMETER;
    }
  }
  // Case 2: the answer must fit the caller's buffer before the card acts.
  if (lc == 0 && le + 2 > smc::replyData(*ext).size()) return STATUS_BUFFER_TOO_SMALL;

  const std::span<UCHAR> room = smc::freeRoom(ext->SmartcardRequest);
  if (room.size() < tpduLength) return STATUS_BUFFER_TOO_SMALL;
  std::memcpy(room.data(), apdu.data(), std::min<ULONG>(tpduLength, apdu.size()));
  if (apdu.size() == kHeader) room[kHeader] = 0;
  ext->SmartcardRequest.BufferLength += tpduLength;
  ext->T0.Lc = lc;
  ext->T0.Le = le;
  return STATUS_SUCCESS;
}

NTSTATUS SmartcardT0Reply(PSMARTCARD_EXTENSION SmartcardExtension) {
  PSMARTCARD_EXTENSION ext = SmartcardExtension;
  const std::span<const UCHAR> answer = smc::usedBytes(ext->SmartcardReply);
  if (answer.size() < 2) return STATUS_DEVICE_PROTOCOL_ERROR;
  // SW1 is 6X or 9X, and never 60 (a procedure byte).
  const UCHAR sw1 = answer[answer.size() - 2];
  const UCHAR high = sw1 & 0xF0;
  if ((high != 0x60 && high != 0x90) || sw1 == 0x60) return STATUS_DEVICE_PROTOCOL_ERROR;
  // Data only where Le asked for it (case 2, or case 4 answered in full),
  // and never more than asked.
  const ULONG data = answer.size() - 2;
  const ULONG allowed = ext->T0.Le;
  if (data > allowed) return STATUS_DEVICE_PROTOCOL_ERROR;
  const std::span<UCHAR> reply = smc::replyData(*ext);
  if (answer.size() > reply.size()) return STATUS_BUFFER_TOO_SMALL;
  std::memcpy(reply.data(), answer.data(), answer.size());
  smc::finishReply(ext, answer.size());
  return STATUS_SUCCESS;
}

}  // namespace k52::nt

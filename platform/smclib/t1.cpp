// T=1 exchanges of ISO/IEC 7816-3 as a state machine driven by the reader
// driver: SmartcardT1Request builds the next block, SmartcardT1Reply checks
// the card's block and decides what comes next.
//
// Error handling: an invalid block is answered with an R-block (or our
// S-request is sent again); a block the card asks for again is sent again.
// The third error in a row starts a resynchronisation; an error while
// resynchronising asks for it again, up to three requests per exchange. A
// card that gives up (S(ABORT request)) gets its S(ABORT response), and the
// exchange then fails whatever comes back. An exchange that ends early or is
// abandoned leaves the link to be resynchronised at the start of the next one.
#include <algorithm>
#include <cstring>

#include "platform/smclib/internal.h"
#include "platform/smclib/t1_block.h"

namespace k52::nt {
namespace {

using namespace t1;

enum State : UCHAR { kIdle, kAwaiting, kContinue };
// kAborted: the card gave the exchange up and our S(ABORT response) is out.
enum Phase : UCHAR { kNegotiate, kSending, kReceiving, kResync, kAborted };
enum Block : UCHAR { kSendI, kSendR, kSendRequest, kSendResponse };

constexpr UCHAR kMaxErrors = 3;
constexpr UCHAR kMaxResyncs = 3;

bool usesCrc(const SMARTCARD_EXTENSION& ext) {
  return ext.CardCapabilities.T1.EDC & 0x01;
}

// The IFSD the reader offers: its maximum, within what a block can carry.
UCHAR wantedIfsd(const SMARTCARD_EXTENSION& ext) {
  const ULONG max = ext.ReaderCapabilities.MaxIFSD;
  return static_cast<UCHAR>(max == 0 ? T1_IFSD_DEFAULT : std::min<ULONG>(max, kMaxInf));
}

void setNext(T1_DATA& t, Block block, UCHAR type = 0, UCHAR value = 0) {
  t.Next = block;
  t.NextType = type;
  t.NextValue = value;
}

void beginSending(PSMARTCARD_EXTENSION ext) {
  T1_DATA& t = ext->T1;
  t.BytesSent = 0;
  t.BytesReceived = 0;
  t.Errors = 0;
  const UCHAR ifsd = wantedIfsd(*ext);
  if (!t.IfsdNegotiated && !t.NoIfsRequest && ifsd != t.IFSD) {
    t.Phase = kNegotiate;
    setNext(t, kSendRequest, kIfs, ifsd);
    return;
  }
  t.IfsdNegotiated = TRUE;
  t.Phase = kSending;
  setNext(t, kSendI);
}

NTSTATUS startResync(T1_DATA& t) {
  if (t.Resyncs >= kMaxResyncs) return STATUS_DEVICE_PROTOCOL_ERROR;
  ++t.Resyncs;
  t.Errors = 0;
  t.Phase = kResync;
  setNext(t, kSendRequest, kResynch);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

// An invalid block: ask the card for its block again, or repeat our
// S-request, which the card may not have understood.
NTSTATUS onInvalid(T1_DATA& t, RError error) {
  if (t.Phase == kResync || ++t.Errors >= kMaxErrors) return startResync(t);
  if (t.Sent == kSendRequest) {
    setNext(t, kSendRequest, t.SentType, t.SentValue);
  } else {
    setNext(t, kSendR, error);
  }
  return STATUS_MORE_PROCESSING_REQUIRED;
}

// The card asks for a block again.
NTSTATUS resend(T1_DATA& t, Block block, UCHAR type, UCHAR value) {
  if (++t.Errors >= kMaxErrors) return startResync(t);
  setNext(t, block, type, value);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

// An I-block of the answer with the expected N(S).
NTSTATUS takeAnswer(PSMARTCARD_EXTENSION ext, std::span<const UCHAR> inf, bool more) {
  T1_DATA& t = ext->T1;
  const std::span<UCHAR> reply = smc::replyData(*ext);
  if (inf.size() > reply.size() - std::min<std::size_t>(t.BytesReceived, reply.size())) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  std::memcpy(reply.data() + t.BytesReceived, inf.data(), inf.size());
  t.BytesReceived += inf.size();
  t.RSN ^= 1;
  t.Errors = 0;
  if (more) {
    t.Phase = kReceiving;
    setNext(t, kSendR, kErrorFree);
    return STATUS_MORE_PROCESSING_REQUIRED;
  }
  smc::finishReply(ext, t.BytesReceived);
  return STATUS_SUCCESS;
}

// Whether `block` is a well-formed block for us; *error says why not.
bool wellFormed(const SMARTCARD_EXTENSION& ext, std::span<const UCHAR> block, RError* error) {
  *error = kOtherError;
  const bool crc = usesCrc(ext);
  if (block.size() < kPrologue + edcLength(crc)) return false;
  const UCHAR nad = block[0], pcb = block[1], len = block[2];
  if (len > kMaxInf || block.size() != kPrologue + len + edcLength(crc)) return false;
  if (!edcValid(block, crc)) {
    *error = kEdcError;
    return false;
  }
  const UCHAR ours = ext.T1.NAD;
  if (nad != (((ours & 0x07) << 4) | ((ours >> 4) & 0x07))) return false;
  const auto inf = block.subspan(kPrologue, len);
  switch (kindOf(pcb)) {
    case Kind::I:
      return (pcb & 0x1F) == 0 && len <= std::max(ext.T1.IFSD, wantedIfsd(ext));
    case Kind::R:
      return (pcb & 0x20) == 0 && (pcb & 0x0F) <= kOtherError && len == 0;
    case Kind::S: {
      const UCHAR type = pcb & 0x1F;
      const bool response = pcb & kSResponse;
      switch (type) {
        case kResynch:
          return response && len == 0;  // only the reader asks for it
        case kAbort:
          return len == 0;
        case kVppError:
          return response && len == 0;
        case kIfs:
          return len == 1 && inf[0] != 0x00 && inf[0] != 0xFF;
        case kWtx:
          return len == 1 && inf[0] != 0;
        default:
          return false;
      }
    }
  }
  return false;
}

NTSTATUS onBlock(PSMARTCARD_EXTENSION ext, UCHAR pcb, std::span<const UCHAR> inf) {
  T1_DATA& t = ext->T1;
  const Kind kind = kindOf(pcb);
  const UCHAR type = pcb & 0x1F;
  const bool response = pcb & kSResponse;
  if (kind == Kind::S && !response) {
    switch (type) {
      case kWtx:
        t.Wtx = inf[0];
        setNext(t, kSendResponse, kWtx, inf[0]);
        return STATUS_MORE_PROCESSING_REQUIRED;
      case kIfs:
        t.IFSC = inf[0];
        setNext(t, kSendResponse, kIfs, inf[0]);
        return STATUS_MORE_PROCESSING_REQUIRED;
      case kAbort:  // the card gives up on the exchange: it gets its answer first
        t.Phase = kAborted;
        setNext(t, kSendResponse, kAbort);
        return STATUS_MORE_PROCESSING_REQUIRED;
      default:
        return STATUS_DEVICE_PROTOCOL_ERROR;
    }
  }
  const UCHAR ns = (pcb & kIBlockNs) ? 1 : 0;
  const UCHAR nr = (pcb & kRBlockNr) ? 1 : 0;
  switch (t.Phase) {
    case kResync:
      if (kind != Kind::S || type != kResynch) return onInvalid(t, kOtherError);
      t.SSN = 0;
      t.RSN = 0;
      t.IFSC = ext->CardCapabilities.T1.IFSC ? ext->CardCapabilities.T1.IFSC : T1_IFSD_DEFAULT;
      t.IFSD = T1_IFSD_DEFAULT;
      t.IfsdNegotiated = FALSE;
      t.ResyncPending = FALSE;
      beginSending(ext);
      return STATUS_MORE_PROCESSING_REQUIRED;
    case kNegotiate:
      // Any valid answer but the echo of our IFS request leaves IFSD as it
      // was: a card that does not take the request still gets the command.
      if (kind == Kind::S && type == kIfs && inf[0] == wantedIfsd(*ext)) t.IFSD = inf[0];
      t.IfsdNegotiated = TRUE;
      t.Errors = 0;
      t.Phase = kSending;
      setNext(t, kSendI);
      return STATUS_MORE_PROCESSING_REQUIRED;
    case kSending:
      if (kind == Kind::I) {
        // The answer, once the whole command is out.
        if (t.LastMore || ns != t.RSN) return onInvalid(t, kOtherError);
        t.SSN ^= 1;
        t.BytesSent += t.LastLength;
        return takeAnswer(ext, inf, pcb & kIBlockMore);
      }
      if (kind == Kind::R) {
        if (nr == t.SSN) return resend(t, kSendI, 0, 0);
        if (!t.LastMore) return onInvalid(t, kOtherError);
        // The chained part is acknowledged: on with the next one.
        t.SSN ^= 1;
        t.BytesSent += t.LastLength;
        t.Errors = 0;
        setNext(t, kSendI);
        return STATUS_MORE_PROCESSING_REQUIRED;
      }
      return onInvalid(t, kOtherError);
    case kReceiving:
      if (kind == Kind::I) {
        if (ns != t.RSN) return onInvalid(t, kOtherError);
        return takeAnswer(ext, inf, pcb & kIBlockMore);
      }
      if (kind == Kind::R) return resend(t, static_cast<Block>(t.Sent), t.SentType, t.SentValue);
      return onInvalid(t, kOtherError);
  }
  return STATUS_DEVICE_PROTOCOL_ERROR;
}

// Writes the block t.Next into `room`; its length, or 0 when it does not fit.
std::size_t build(PSMARTCARD_EXTENSION ext, std::span<const UCHAR> command, std::span<UCHAR> room) {
  T1_DATA& t = ext->T1;
  UCHAR pcb = 0;
  std::span<const UCHAR> inf;
  UCHAR value = t.NextValue;
  switch (t.Next) {
    case kSendI: {
      const std::size_t ifsc = std::clamp<std::size_t>(t.IFSC, 1, kMaxInf);
      const std::size_t remaining =
          command.size() - std::min<std::size_t>(t.BytesSent, command.size());
      inf = command.subspan(command.size() - remaining, std::min(remaining, ifsc));
      const bool more = remaining > ifsc;
      pcb = static_cast<UCHAR>((t.SSN ? kIBlockNs : 0) | (more ? kIBlockMore : 0));
      t.LastMore = more;
      t.LastLength = static_cast<ULONG>(inf.size());
      break;
    }
    case kSendR:
      pcb = static_cast<UCHAR>(kRBlock | (t.RSN ? kRBlockNr : 0) | t.NextType);
      break;
    case kSendRequest:
    case kSendResponse:
      pcb = static_cast<UCHAR>(kSBlock | (t.Next == kSendResponse ? kSResponse : 0) | t.NextType);
      if (t.NextType == kIfs || t.NextType == kWtx) inf = std::span<const UCHAR>(&value, 1);
      break;
  }
  const bool crc = usesCrc(*ext);
  const std::size_t length = kPrologue + inf.size();
  if (room.size() < length + edcLength(crc)) return 0;
  room[0] = t.NAD;
  room[1] = pcb;
  room[2] = static_cast<UCHAR>(inf.size());
  if (!inf.empty()) std::memcpy(room.data() + kPrologue, inf.data(), inf.size());
  appendEdc(room, length, crc);
  return length + edcLength(crc);
}

}  // namespace

namespace smc {

void resetT1(PSMARTCARD_EXTENSION ext) {
  T1_DATA& t = ext->T1;
  const auto& atr = ext->CardCapabilities.ATR;
  t.AtrLength = std::min<UCHAR>(atr.Length, sizeof t.Atr);
  std::memcpy(t.Atr, atr.Buffer, t.AtrLength);
  const UCHAR ifsc = ext->CardCapabilities.T1.IFSC;
  t.IFSC = ifsc ? ifsc : T1_IFSD_DEFAULT;
  t.IFSD = T1_IFSD_DEFAULT;
  t.SSN = 0;
  t.RSN = 0;
  t.Wtx = 0;
  t.IfsdNegotiated = FALSE;
  t.ResyncPending = FALSE;
  t.State = kIdle;
}

bool t1LinkBelongsToAtr(const SMARTCARD_EXTENSION& ext) {
  const T1_DATA& t = ext.T1;
  const auto& atr = ext.CardCapabilities.ATR;
  return atr.Length == t.AtrLength && std::memcmp(atr.Buffer, t.Atr, t.AtrLength) == 0;
}

void closeT1Exchange(PSMARTCARD_EXTENSION ext) {
  T1_DATA& t = ext->T1;
  if (t.State == kIdle) return;
  t.State = kIdle;
  t.ResyncPending = TRUE;
}

}  // namespace smc

NTSTATUS SmartcardT1Request(PSMARTCARD_EXTENSION SmartcardExtension) {
  PSMARTCARD_EXTENSION ext = SmartcardExtension;
  T1_DATA& t = ext->T1;
  NTSTATUS status;
  const std::span<const UCHAR> command = smc::requestData(*ext, &status);
  if (!NT_SUCCESS(status)) return status;
  if (t.State != kContinue) {
    if (command.empty()) return STATUS_INVALID_PARAMETER;
    if (smc::replyData(*ext).size() < 2) return STATUS_BUFFER_TOO_SMALL;
    // An exchange left unfinished may have left the card anywhere.
    const bool resync = t.ResyncPending || t.State != kIdle;
    t.Wtx = 0;
    t.Resyncs = 0;
    beginSending(ext);
    if (resync) startResync(t);
  }
  const std::size_t length = build(ext, command, smc::freeRoom(ext->SmartcardRequest));
  if (length == 0) {
    t.State = kIdle;
    t.ResyncPending = TRUE;
    return STATUS_BUFFER_TOO_SMALL;
  }
  ext->SmartcardRequest.BufferLength += static_cast<ULONG>(length);
  t.Sent = t.Next;
  t.SentType = t.NextType;
  t.SentValue = t.NextValue;
  t.State = kAwaiting;
  return STATUS_SUCCESS;
}

NTSTATUS SmartcardT1Reply(PSMARTCARD_EXTENSION SmartcardExtension) {
  PSMARTCARD_EXTENSION ext = SmartcardExtension;
  T1_DATA& t = ext->T1;
  if (t.State != kAwaiting) return STATUS_INVALID_DEVICE_STATE;
  t.Wtx = 0;
  const std::span<const UCHAR> block = smc::usedBytes(ext->SmartcardReply);
  RError error;
  NTSTATUS status = STATUS_DEVICE_PROTOCOL_ERROR;  // whatever follows an abort
  if (t.Phase != kAborted) {
    status = wellFormed(*ext, block, &error)
                 ? onBlock(ext, block[1], block.subspan(kPrologue, block[2]))
                 : onInvalid(t, error);
  }
  if (status == STATUS_MORE_PROCESSING_REQUIRED) {
    t.State = kContinue;
  } else {
    t.State = kIdle;
    if (!NT_SUCCESS(status)) t.ResyncPending = TRUE;
  }
  return status;
}

}  // namespace k52::nt

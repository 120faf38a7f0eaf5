// Card mode, PTS and protocol selection.
#include "drivers/reader/reader.h"

namespace k52::varnel {
namespace {

constexpr UCHAR kPtsT0[] = {0xFF, 0x10, 0x11, 0xFE};
constexpr UCHAR kPtsT1[] = {0xFF, 0x11, 0x11, 0xFF};
constexpr UCHAR kDefaultBwi = 0x4D;

int bitCount(UCHAR nibble) {
  int n = 0;
  for (; nibble; nibble &= nibble - 1) ++n;
  return n;
}

// TC1 of the ATR, or nothing.
bool findTc1(const SCARD_CARD_CAPABILITIES& card, UCHAR* tc1) {
  if (card.ATR.Length < 2) return false;
  const UCHAR y1 = card.ATR.Buffer[1] >> 4;
  ULONG at = 0;
  switch (y1) {
    case 0x4:
    case 0xC:
      at = 2;
      break;
    case 0x5:
    case 0x6:
    case 0xD:
    case 0xE:
      at = 3;
      break;
    case 0x7:
    case 0xF:
      at = 4;
      break;
    default:
      return false;
  }
  if (at >= card.ATR.Length) return false;
  *tc1 = card.ATR.Buffer[at];
  return true;
}

// TB3 of the ATR by interface byte counting, or 0.
UCHAR findTb3(const SCARD_CARD_CAPABILITIES& card) {
  const UCHAR* atr = card.ATR.Buffer;
  const ULONG length = card.ATR.Length;
  if (length < 2) return 0;
  const UCHAR y1 = atr[1] >> 4;
  if (!(y1 & 0x8)) return 0;
  const ULONG td1At = 1 + bitCount(y1);
  if (td1At >= length) return 0;
  const UCHAR td1 = atr[td1At];
  if (!(td1 & 0x80)) return 0;
  const ULONG td2At = td1At + bitCount(td1 >> 4);
  if (td2At >= length) return 0;
  const UCHAR td2 = atr[td2At];
  if (!(td2 & 0x20)) return 0;
  const ULONG tb3At = td2At + ((td2 & 0x10) ? 2 : 1);
  return tb3At < length ? atr[tb3At] : 0;
}

NTSTATUS setMode(PSMARTCARD_EXTENSION sc, bool t1) {
  READER_EXTENSION* r = sc->ReaderExtension;
  const SCARD_CARD_CAPABILITIES& card = sc->CardCapabilities;
  XDS();
  UCHAR flags = t1 ? (card.T1.EDC ? 0x11 : 0x10) : (card.T1.EDC ? 0x01 : 0x00);
  if (card.InversConvention || (card.ATR.Length > 0 && card.ATR.Buffer[0] == 0x3F)) flags |= 0x02;
  UCHAR n = card.N;
  UCHAR tc1 = 0;
  if (card.ATR.Length > 0 && findTc1(card, &tc1)) n = tc1;
  if (n == 0xFF || flags == 0) n = 0;
  UCHAR a = 0;
  UCHAR b = 0;
  if (t1) {
    b = findTb3(card);
    if (b == 0) b = kDefaultBwi;
  } else {
    a = card.T0.WI < 10 ? 10 : card.T0.WI;
  }
  const UCHAR mode[] = {flags, n, a, b, 0x10};
  static_assert(sizeof mode == sizeof r->modeBytes);
  for (std::size_t i = 0; i < sizeof mode; ++i) r->modeBytes[i] = mode[i];
  return VARNEL_ReadWrite(kSetMode, sc);
}

NTSTATUS SendPTS(PSMARTCARD_EXTENSION sc, const UCHAR* bytes, ULONG length) {
  READER_EXTENSION* r = sc->ReaderExtension;
  r->ptsInProgress = 1;
  r->ptsData = bytes;
  r->ptsLength = length;
  return VARNEL_ReadWrite(kCardExchange, sc);
}

NTSTATUS sendPts(PSMARTCARD_EXTENSION sc, ULONG protocol) {
  READER_EXTENSION* r = sc->ReaderExtension;
  SCARD_CARD_CAPABILITIES& card = sc->CardCapabilities;
  const bool t1 = protocol == SCARD_PROTOCOL_T1;
  XDS();
  if (card.Protocol.Selected == protocol) return STATUS_SUCCESS;
  if (!(card.Protocol.Supported & protocol)) return STATUS_NOT_SUPPORTED;
  if (t1 ? r->ptsDoneT1 : r->ptsDoneT0) return STATUS_SUCCESS;
  SetModeT1(sc);
  const NTSTATUS status =
      t1 ? SendPTS(sc, kPtsT1, sizeof kPtsT1) : SendPTS(sc, kPtsT0, sizeof kPtsT0);
  if (t1) {
    SetModeT1(sc);
  } else {
    SetModeT0(sc);
  }
  r->ptsInProgress = 0;
  // A PTS the card never got selects nothing: the next request tries again.
  if (!NT_SUCCESS(status)) return status;
  r->ptsDoneT1 = t1;
  r->ptsDoneT0 = !t1;
  sc->ReaderCapabilities.CurrentState = SCARD_SPECIFIC;
  card.Protocol.Selected = protocol;
  return status;
}

// The selected protocol as the request's 32-bit answer.
void answerSelected(PSMARTCARD_EXTENSION sc) {
  if (!sc->IoRequest.ReplyBuffer || sc->IoRequest.ReplyBufferLength < sizeof(ULONG)) return;
  const ULONG selected = sc->CardCapabilities.Protocol.Selected;
  for (std::size_t i = 0; i < sizeof selected; ++i) {
    sc->IoRequest.ReplyBuffer[i] = static_cast<UCHAR>(selected >> (8 * i));
  }
  if (sc->IoRequest.Information) *sc->IoRequest.Information = sizeof selected;
}

}  // namespace

NTSTATUS SetModeT0(PSMARTCARD_EXTENSION sc) {
  return setMode(sc, false);
}
NTSTATUS SetModeT1(PSMARTCARD_EXTENSION sc) {
  return setMode(sc, true);
}
NTSTATUS SendPtsT0(PSMARTCARD_EXTENSION sc) {
  return sendPts(sc, SCARD_PROTOCOL_T0);
}
NTSTATUS SendPtsT1(PSMARTCARD_EXTENSION sc) {
  return sendPts(sc, SCARD_PROTOCOL_T1);
}

NTSTATUS VARNEL_SetProtocol(PSMARTCARD_EXTENSION sc) {
  SCARD_CARD_CAPABILITIES& card = sc->CardCapabilities;
  const ULONG requested = sc->MinorIoControlCode;
  const ULONG supported = card.Protocol.Supported;
  const ULONG selectedAtEntry = card.Protocol.Selected;
  XDS();
  if (sc->ReaderCapabilities.CurrentState == SCARD_SPECIFIC && (requested & selectedAtEntry)) {
    answerSelected(sc);
    return STATUS_SUCCESS;
  }
  VARNEL_StartCardTracking(sc);
  NTSTATUS status = VARNEL_UpdateCardStatus(sc, 0);
  if (!NT_SUCCESS(status)) {
    VARNEL_StopCardTracking(sc);
    return status;
  }
  const bool wantsT0 = requested & SCARD_PROTOCOL_T0;
  const bool wantsT1 = requested & SCARD_PROTOCOL_T1;
  if (wantsT0 && wantsT1) {
    if (card.Protocol.Selected == SCARD_PROTOCOL_UNDEFINED || selectedAtEntry == 0) {
      if (supported & SCARD_PROTOCOL_T0) {
        status = SendPtsT0(sc);
      } else if (supported & SCARD_PROTOCOL_T1) {
        status = SendPtsT1(sc);
      } else {
        status = STATUS_NOT_SUPPORTED;
      }
      if (!NT_SUCCESS(status)) status = STATUS_NOT_SUPPORTED;
    }
  } else if (wantsT0 || wantsT1) {
    const ULONG protocol = wantsT1 ? SCARD_PROTOCOL_T1 : SCARD_PROTOCOL_T0;
    if (supported & protocol) {
      if (selectedAtEntry != protocol) status = sendPts(sc, protocol);
      if (NT_SUCCESS(status)) card.Protocol.Selected = protocol;
    } else {
      status = STATUS_NOT_SUPPORTED;
    }
  } else {
    status = STATUS_INVALID_DEVICE_REQUEST;
  }
  if (card.Protocol.Selected != SCARD_PROTOCOL_UNDEFINED) {
    sc->ReaderCapabilities.CurrentState = SCARD_SPECIFIC;
  }
  if (NT_SUCCESS(status)) answerSelected(sc);
  VARNEL_StopCardTracking(sc);
  return status;
}

}  // namespace k52::varnel

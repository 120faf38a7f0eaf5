// The card's status from the terminal, powering it up, and the power
// requests.
#include <cstring>

#include "drivers/reader/reader.h"

namespace k52::varnel {
namespace {

constexpr UCHAR kNoStatus = 0xFF;
constexpr UCHAR kStatusAtr = 0x10;
constexpr UCHAR kStatusInserted = 0x08;
constexpr UCHAR kStatusKind = 0x07;

bool isActivated(UCHAR status) {
  return status == 9 || status == 10 || status == 0x18 || status == 0x19 || status == 0x1A;
}

void forgetAtr(PSMARTCARD_EXTENSION sc, ULONG state) {
  sc->ReaderCapabilities.CurrentState = state;
  sc->CardCapabilities.ATR.Length = 0;
  sc->CardCapabilities.Protocol.Selected = SCARD_PROTOCOL_UNDEFINED;
  if (sc->IoRequest.Information) *sc->IoRequest.Information = 0;
}

// Sends 0x65 and reads the status byte (and the card type) from the answer.
NTSTATUS queryStatus(PSMARTCARD_EXTENSION sc, UCHAR* statusByte) {
  READER_EXTENSION* r = sc->ReaderExtension;
  const NTSTATUS status = VARNEL_ReadWrite(kStatus, sc);
  if (!NT_SUCCESS(status)) {
    *statusByte = kNoStatus;
    return STATUS_IO_TIMEOUT;
  }
  const ULONG length = answerLength(r);
  *statusByte = kNoStatus;
  if (length > 2) {
    *statusByte = answerData(r)[0];
    // The card type is the fourth data byte; a shorter answer has none.
    if (length - 1 > 3) r->cardType = answerData(r)[3];
  }
  return STATUS_SUCCESS;
}

// Resets an activated card and takes its ATR; returns the result.
NTSTATUS resetCard(PSMARTCARD_EXTENSION sc, ULONG kind) {
  READER_EXTENSION* r = sc->ReaderExtension;
  NTSTATUS status;
  if (kind == 1 && r->cardType > 2) {
    status = VARNEL_ReadWrite(kWarmReset, sc);
  } else {
    status = VARNEL_ReadWrite(kPowerOff, sc);
    if (NT_SUCCESS(status)) status = VARNEL_ReadWrite(kPowerOn, sc);
  }
  r->ptsDoneT0 = r->ptsDoneT1 = 0;
  if (!NT_SUCCESS(status)) {
    sc->ReaderCapabilities.CurrentState = SCARD_PRESENT;
    return STATUS_INVALID_DEVICE_STATE;
  }
  // A new card session: no I-block either way yet. The send byte gives the
  // PIN command its N(S); the receive byte is what the driver answers the
  // block after a PIN entry with, in the card's name, and must not carry a
  // block of the last session into this one.
  r->t1SendSequence = r->t1ReceiveSequence = 0x40;
  sc->ReaderCapabilities.CurrentState = SCARD_NEGOTIABLE;
  const ULONG length = answerLength(r);
  if (length <= 2) {
    forgetAtr(sc, SCARD_NEGOTIABLE);
    return STATUS_INVALID_DEVICE_STATE;
  }
  const ULONG atrLength = length - 1;
  if (atrLength > sizeof sc->CardCapabilities.ATR.Buffer || length + 2 > r->receiveCount) {
    forgetAtr(sc, SCARD_PRESENT);  // an ATR that does not fit is no ATR
    return STATUS_INVALID_DEVICE_STATE;
  }
  std::memcpy(sc->CardCapabilities.ATR.Buffer, answerData(r), atrLength);
  sc->CardCapabilities.ATR.Length = static_cast<UCHAR>(atrLength);
  sc->CardCapabilities.Protocol.Selected = SCARD_PROTOCOL_UNDEFINED;
  NTSTATUS result = STATUS_SUCCESS;
  if (sc->IoRequest.Information) *sc->IoRequest.Information = atrLength;
  if (sc->IoRequest.ReplyBuffer && sc->IoRequest.ReplyBufferLength >= atrLength) {
    std::memcpy(sc->IoRequest.ReplyBuffer, sc->CardCapabilities.ATR.Buffer, atrLength);
  } else if (sc->IoRequest.ReplyBuffer) {
    result = STATUS_BUFFER_TOO_SMALL;
  }

  // The terminal confirms the ATR; a reset it does not confirm found no
  // card to speak to, and must not pass for a success with an empty ATR.
  UCHAR after = kNoStatus;
  queryStatus(sc, &after);
  if (!(after & kStatusAtr)) {
    forgetAtr(sc, SCARD_PRESENT);
    return STATUS_INVALID_DEVICE_STATE;
  }
  if (!(after & kStatusInserted)) {
    forgetAtr(sc, SCARD_ABSENT);
    return STATUS_INVALID_DEVICE_STATE;
  }
  if (!(after & kStatusKind)) {
    forgetAtr(sc, SCARD_PRESENT);
    return STATUS_INVALID_DEVICE_STATE;
  }
  return result;
}

// After a reset: the card mode for the protocol, and a card offering one
// protocol only is switched to it at once.
void setModeAfterReset(PSMARTCARD_EXTENSION sc) {
  const ULONG selected = sc->CardCapabilities.Protocol.Selected;
  if (selected == SCARD_PROTOCOL_T0) SetModeT0(sc);
  if (selected == SCARD_PROTOCOL_T1) SetModeT1(sc);
  const ULONG supported = sc->CardCapabilities.Protocol.Supported & 0xFFFF;
  if (supported == SCARD_PROTOCOL_Tx) {
    SetModeT0(sc);
  } else if (supported & SCARD_PROTOCOL_T0) {
    SendPtsT0(sc);
  } else if (supported & SCARD_PROTOCOL_T1) {
    SendPtsT1(sc);
  }
}

}  // namespace

NTSTATUS VARNEL_UpdateCardStatus(PSMARTCARD_EXTENSION sc, ULONG kind) {
  READER_EXTENSION* r = sc->ReaderExtension;
  XDS();
  sc->ReaderCapabilities.CurrentState = SCARD_ABSENT;
  UCHAR statusByte = kNoStatus;
  NTSTATUS result = queryStatus(sc, &statusByte);
  if (NT_SUCCESS(result) && statusByte == 0) result = STATUS_INVALID_DEVICE_STATE;
  r->statusByte = statusByte;
  if (kind == 2) return result;

  if (statusByte == 0) {
    forgetAtr(sc, SCARD_ABSENT);
    r->cardChanged = 1;
  } else if (statusByte == 8 || isActivated(statusByte)) {
    bool reset = kind != 0;
    if (statusByte == 8) {
      sc->ReaderCapabilities.CurrentState = SCARD_SWALLOWED;
      r->cardChanged = 1;
      sc->CardCapabilities.ATR.Length = 0;
      result = STATUS_INVALID_DEVICE_STATE;
    } else {
      sc->ReaderCapabilities.CurrentState = r->cardType == 4   ? SCARD_SPECIFIC
                                            : r->cardType == 3 ? SCARD_NEGOTIABLE
                                                               : SCARD_POWERED;
      result = STATUS_SUCCESS;
    }
    if (reset) result = resetCard(sc, kind);
  } else {
    forgetAtr(sc, SCARD_SWALLOWED);
    result = STATUS_INVALID_DEVICE_STATE;
  }

  if (sc->ReaderCapabilities.CurrentState != r->rememberedState || r->cardType == 3) {
    SmartcardUpdateCardCapabilities(sc);
  }
  if ((kind == 1 || kind == 3) && sc->ReaderCapabilities.CurrentState >= SCARD_POWERED) {
    setModeAfterReset(sc);
  }
  return result;
}

NTSTATUS VARNEL_PowerCard(PSMARTCARD_EXTENSION sc) {
  READER_EXTENSION* r = sc->ReaderExtension;
  XDS();
  sc->CardCapabilities.ATR.Length = 0;
  sc->ReaderCapabilities.CurrentState = SCARD_UNKNOWN;
  if (sc->IoRequest.Information) *sc->IoRequest.Information = 0;
  VARNEL_StartCardTracking(sc);
  NTSTATUS status;
  switch (sc->MinorIoControlCode) {
    case SCARD_COLD_RESET:
    case SCARD_WARM_RESET: {
      status = VARNEL_UpdateCardStatus(sc, sc->MinorIoControlCode == SCARD_COLD_RESET ? 3 : 1);
      const ULONG state = sc->ReaderCapabilities.CurrentState;
      if (state == SCARD_ABSENT || state == SCARD_SWALLOWED) {
        sc->CardCapabilities.ATR.Length = 0;
        status = STATUS_INVALID_DEVICE_STATE;
      } else {
        UCHAR statusByte = 0;
        queryStatus(sc, &statusByte);  // for the card type
      }
      if (status == STATUS_INVALID_DEVICE_STATE && state >= SCARD_PRESENT) {
        status = STATUS_UNRECOGNIZED_MEDIA;
      }
      break;
    }
    case SCARD_POWER_DOWN:
      status = VARNEL_ReadWrite(kPowerOff, sc);
      sc->CardCapabilities.Protocol.Selected = SCARD_PROTOCOL_UNDEFINED;
      sc->CardCapabilities.ATR.Length = 0;
      sc->ReaderCapabilities.CurrentState = SCARD_ABSENT;
      r->cardChanged = 1;
      if (NT_SUCCESS(status)) {
        status = VARNEL_UpdateCardStatus(sc, 0);
        if (status == STATUS_INVALID_DEVICE_STATE) status = STATUS_SUCCESS;
      }
      break;
    default:
      status = STATUS_INVALID_DEVICE_REQUEST;
      break;
  }
  VARNEL_StopCardTracking(sc);
  return status;
}

}  // namespace k52::varnel

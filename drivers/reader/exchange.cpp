// Card exchanges: T=0 commands, T=1 blocks and PTS requests through the
// terminal, and the transmit request built on them.
#include <algorithm>
#include <cstring>
#include <limits>

#include "drivers/reader/reader.h"

namespace k52::varnel {
namespace {

constexpr UCHAR kCardCommand = 0x67;
constexpr UCHAR kT0Retry = 0x68;
constexpr UCHAR kExtendedBlock = 0x6C;
constexpr UCHAR kWtxInForce = 5;
constexpr UCHAR kWtxRequest = 0xC3;          // the PCB of S(WTX request)
constexpr UCHAR kIBlockMore = 0x20;          // an I-block's M bit: more blocks of a chain follow
constexpr ULONG kWtxUnit100ns = 30'000'000;  // 3 s per unit of the card's request
constexpr int kT0ErrorAnswers = 5;
constexpr ULONG kT0LargestAnswer = 270;
constexpr ULONG kLargestRequest = 512;

// A time of 100 ns units in the 32 bits the reader holds it in: 143 units
// of the card's request and more would wrap (to a few seconds) otherwise.
ULONG clampedTime100ns(ULONGLONG time100ns) {
  return static_cast<ULONG>(std::min<ULONGLONG>(time100ns, std::numeric_limits<ULONG>::max()));
}

bool isIBlock(UCHAR pcb) {
  return (pcb & 0x80) == 0;
}

// The frame: length, command, then `length` bytes.
void putFrame(READER_EXTENSION* r, UCHAR command, const UCHAR* data, ULONG length) {
  const ULONG frameLength = length + 1;
  r->uTransmitBuffer[0] = static_cast<UCHAR>(frameLength >> 8);
  r->uTransmitBuffer[1] = static_cast<UCHAR>(frameLength);
  r->uTransmitBuffer[kFrameCodeAt] = command;
  r->lastCommand = command;
  if (length) std::memmove(r->uTransmitBuffer + kFrameDataAt, data, length);
  r->dwTransmitBufferLen = frameLength + 2;
}

// The library builds into its request buffer; the frame takes it from there.
NTSTATUS libraryFrame(PSMARTCARD_EXTENSION sc, NTSTATUS (*build)(PSMARTCARD_EXTENSION),
                      UCHAR command) {
  READER_EXTENSION* r = sc->ReaderExtension;
  sc->SmartcardRequest.BufferLength = 0;
  const NTSTATUS status = build(sc);
  if (!NT_SUCCESS(status)) return status;
  if (sc->SmartcardRequest.BufferLength + kFrameDataAt > kLinkBufferSize) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  putFrame(r, command, sc->SmartcardRequest.Buffer, sc->SmartcardRequest.BufferLength);
  return STATUS_SUCCESS;
}

bool t1Selected(PSMARTCARD_EXTENSION sc) {
  return sc->CardCapabilities.Protocol.Selected == SCARD_PROTOCOL_T1;
}

// The answer's data into the library's reply buffer; false when it does not fit.
bool takeAnswer(PSMARTCARD_EXTENSION sc) {
  READER_EXTENSION* r = sc->ReaderExtension;
  const ULONG length = answerLength(r);
  const ULONG data = length ? length - 1 : 0;
  if (data > sc->SmartcardReply.BufferSize || data + kFrameDataAt > kLinkBufferSize) return false;
  std::memcpy(sc->SmartcardReply.Buffer, answerData(r), data);
  sc->SmartcardReply.BufferLength = data;
  return true;
}

NTSTATUS interpretT1(PSMARTCARD_EXTENSION sc, NTSTATUS linkStatus) {
  READER_EXTENSION* r = sc->ReaderExtension;
  const UCHAR code = answerCode(r);
  const UCHAR* block = answerData(r);
  // The code and the block up to its INF byte, the WTX multiplier.
  const bool wtxRequest = NT_SUCCESS(linkStatus) && code == kAnswerData &&
                          answerLength(r) >= 1 + kBlockInfAt + 1 &&
                          block[kBlockPcbAt] == kWtxRequest;
  if (wtxRequest) {
    const ULONGLONG extension100ns = ULONGLONG{block[kBlockInfAt]} * kWtxUnit100ns;
    r->wtxTime100ns = clampedTime100ns(extension100ns);
    r->wtxState = kWtxInForce;
    r->replyTimeout = clampedTime100ns(extension100ns + kDefaultReplyTimeout100ns);
  } else if (r->wtxState == kWtxInForce) {
    r->wtxState = 0;
    r->replyTimeout = kDefaultReplyTimeout100ns;
  }
  if (!NT_SUCCESS(linkStatus)) return linkStatus;
  // Only these carry a block of the card's; anything else is no answer.
  if (code != kAnswerData && code != kAnswerError) return STATUS_DEVICE_DATA_ERROR;
  if (!takeAnswer(sc)) return STATUS_DEVICE_DATA_ERROR;
  const UCHAR* reply = sc->SmartcardReply.Buffer;
  if (sc->SmartcardReply.BufferLength > kBlockPcbAt && isIBlock(reply[kBlockPcbAt])) {
    r->t1ReceiveSequence = reply[kBlockPcbAt];
  }
  return SmartcardT1Reply(sc);
}

NTSTATUS interpretT0(PSMARTCARD_EXTENSION sc, NTSTATUS linkStatus) {
  READER_EXTENSION* r = sc->ReaderExtension;
  if (!NT_SUCCESS(linkStatus)) return linkStatus;
  const ULONG length = answerLength(r);
  const UCHAR code = answerCode(r);
  if (code == kAnswerWorkWaiting && length <= 1) {
    r->t0GoOnWaiting = 1;
    return STATUS_MORE_PROCESSING_REQUIRED;
  }
  // An answer the exchange cannot take, or of a code it does not know, is
  // no answer of the card's: it must not end the transmit as a success.
  if (length == 0 || length - 1 >= kT0LargestAnswer || !takeAnswer(sc)) {
    return STATUS_DEVICE_DATA_ERROR;
  }
  if (code == kAnswerData) {
    r->t0RetryCount = 0;
    return SmartcardT0Reply(sc);
  }
  const UCHAR sent = r->lastCommand;
  if (code == kAnswerError && (sent == kCardCommand || sent == kT0Retry)) {
    if (++r->t0RetryCount >= kT0ErrorAnswers) return STATUS_IO_TIMEOUT;
    return STATUS_MORE_PROCESSING_REQUIRED;
  }
  return STATUS_DEVICE_DATA_ERROR;
}

}  // namespace

NTSTATUS BuildCardFrame(PSMARTCARD_EXTENSION sc) {
  READER_EXTENSION* r = sc->ReaderExtension;
  const UCHAR blockCommand = r->wtxState == kWtxInForce ? kExtendedBlock : kCardCommand;
  if (r->ptsInProgress) {
    putFrame(r, blockCommand, r->ptsData, r->ptsLength);
    return STATUS_SUCCESS;
  }
  if (t1Selected(sc)) {
    const NTSTATUS status = libraryFrame(sc, SmartcardT1Request, blockCommand);
    const UCHAR* block = r->uTransmitBuffer + kFrameDataAt;
    if (NT_SUCCESS(status) && r->dwTransmitBufferLen > kFrameDataAt + kBlockPcbAt &&
        isIBlock(block[kBlockPcbAt])) {
      r->t1SendSequence = block[kBlockPcbAt];
    }
    return status;
  }
  if (r->t0GoOnWaiting) {
    r->dwTransmitBufferLen = 0;  // only wait for the answer
    return STATUS_SUCCESS;
  }
  if (r->t0RetryCount > 0) {
    putFrame(r, kT0Retry, nullptr, 0);
    return STATUS_SUCCESS;
  }
  return libraryFrame(sc, SmartcardT0Request, kCardCommand);
}

bool AnswerDummyBlock(READER_EXTENSION* r) {
  // The block after a PIN entry that only resynchronises: the terminal has
  // already spoken to the card, so the driver answers in the card's name.
  const UCHAR* frame = r->uTransmitBuffer;
  const UCHAR* block = frame + kFrameDataAt;
  const UCHAR dummy[] = {0xFF, 0xFF, 0xFF, 0xFF};
  constexpr ULONG kLrcLength = 1;
  if (r->ptsInProgress ||
      r->dwTransmitBufferLen != kFrameDataAt + kBlockInfAt + sizeof dummy + kLrcLength ||
      frame[kFrameCodeAt] != kCardCommand || (block[kBlockPcbAt] & kIBlockMore) ||
      block[kBlockLenAt] != sizeof dummy ||
      std::memcmp(block + kBlockInfAt, dummy, sizeof dummy) != 0) {
    return false;
  }
  // Frame 00 07 64, then the block: NAD 00, PCB p (the card's last I-block),
  // LEN 02, INF 00 00, and the LRC of those five bytes.
  const UCHAR p = r->t1ReceiveSequence;
  const UCHAR answer[] = {
      0x00, 0x07, kAnswerData, 0x00, p, 0x02, 0x00, 0x00, static_cast<UCHAR>(p ^ 0x02)};
  std::memcpy(r->receiveBuffer, answer, sizeof answer);
  r->receiveCount = sizeof answer;
  return true;
}

NTSTATUS InterpretCardAnswer(PSMARTCARD_EXTENSION sc, NTSTATUS linkStatus) {
  if (sc->ReaderExtension->ptsInProgress) return linkStatus;
  return t1Selected(sc) ? interpretT1(sc, linkStatus) : interpretT0(sc, linkStatus);
}

NTSTATUS VARNEL_Transmit(PSMARTCARD_EXTENSION sc) {
  XDS();
  const ULONG state = sc->ReaderCapabilities.CurrentState;
  if (state == SCARD_ABSENT || state == SCARD_SWALLOWED) return STATUS_INVALID_DEVICE_STATE;
  if (!sc->IoRequest.RequestBuffer ||
      sc->IoRequest.RequestBufferLength < sizeof(SCARD_IO_REQUEST) ||
      sc->IoRequest.ReplyBufferLength < sizeof(SCARD_IO_REQUEST) ||
      sc->IoRequest.RequestBufferLength > kLargestRequest) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  SCARD_IO_REQUEST header;
  std::memcpy(&header, sc->IoRequest.RequestBuffer, sizeof header);
  const ULONG supported = sc->CardCapabilities.Protocol.Supported;
  const ULONG selected = sc->CardCapabilities.Protocol.Selected;
  NTSTATUS status = STATUS_SUCCESS;
  VARNEL_StartCardTracking(sc);
  if (header.dwProtocol == SCARD_PROTOCOL_T1 && selected != SCARD_PROTOCOL_T1 &&
      (supported & SCARD_PROTOCOL_T1)) {
    status = SendPtsT1(sc);
  } else if (header.dwProtocol == SCARD_PROTOCOL_T0 && selected != SCARD_PROTOCOL_T0 &&
             (supported & SCARD_PROTOCOL_T0)) {
    status = SendPtsT0(sc);
  }
  if (NT_SUCCESS(status)) {
    status = VARNEL_ReadWrite(kCardExchange, sc);
    std::memcpy(sc->IoRequest.ReplyBuffer, &header, sizeof header);
  }
  VARNEL_StopCardTracking(sc);
  return status;
}

}  // namespace k52::varnel

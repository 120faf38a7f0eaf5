// The exchange with the terminal: one command frame out, its answer frame
// in, on whichever transport the reader has.
#include <cstring>

#include "drivers/reader/reader.h"

namespace k52::varnel {
namespace {

// The fixed command frames: length 1, the command byte.
bool fixedCommand(ULONG kind, UCHAR* command) {
  switch (kind) {
    case kWarmReset:
      *command = 0x64;
      return true;
    case kPowerOff:
      *command = 0x63;
      return true;
    case kPowerOn:
      *command = 0x62;
      return true;
    case kRemoved:
      *command = 0x6A;
      return true;
    case kStatus:
      *command = 0x65;
      return true;
    case kCheck:
      *command = 0x60;
      return true;
    case kCapabilities:
      *command = 0x69;
      return true;
    default:
      return false;
  }
}

// Builds the frame of `kind` into the transmit buffer; false for a kind the
// link does not know.
bool buildFrame(ULONG kind, READER_EXTENSION* r) {
  UCHAR command = 0;
  if (fixedCommand(kind, &command)) {
    const UCHAR frame[] = {0x00, 0x01, command};
    std::memcpy(r->uTransmitBuffer, frame, sizeof frame);
    r->dwTransmitBufferLen = sizeof frame;
    return true;
  }
  switch (kind) {
    case kSetMode: {
      const UCHAR header[] = {0x00, 0x06, 0x61};
      std::memcpy(r->uTransmitBuffer, header, sizeof header);
      std::memcpy(r->uTransmitBuffer + sizeof header, r->modeBytes, sizeof r->modeBytes);
      r->dwTransmitBufferLen = sizeof header + sizeof r->modeBytes;
      return true;
    }
    case kCardExchange:
      r->t0RetryCount = 0;
      return true;  // each pass builds its own frame
    case kVendor:
      PrepareVendorFrame(r);
      return true;
    default:
      return false;
  }
}

}  // namespace

NTSTATUS VARNEL_ReadWrite(ULONG kind, PSMARTCARD_EXTENSION sc) {
  READER_EXTENSION* r = sc->ReaderExtension;
  XDS();
  r->t0GoOnWaiting = 0;
  if (r->transport == kTransportSerial) SerialPurge(r);
  if (!buildFrame(kind, r)) return STATUS_SUCCESS;

  NTSTATUS status = STATUS_SUCCESS;
  do {
    NTSTATUS built = STATUS_SUCCESS;
    if (kind == kCardExchange) built = BuildCardFrame(sc);
    if ((r->dwTransmitBufferLen == 0 && !r->t0GoOnWaiting) || !NT_SUCCESS(built)) {
      return STATUS_DEVICE_DATA_ERROR;
    }
    DumpData(r->uTransmitBuffer, r->dwTransmitBufferLen);
    if (kind == kCardExchange && AnswerDummyBlock(r)) {
      status = STATUS_SUCCESS;
    } else if (r->transport == kTransportSerial) {
      status = SerialSendReceive(sc);
    } else {
      status = PS2SendReceive(sc);
    }
    DumpData(r->receiveBuffer, r->receiveCount);
    if (kind == kCardExchange) status = InterpretCardAnswer(sc, status);
    if (kind == kVendor) status = InterpretVendorAnswer(sc, status);
  } while (status == STATUS_MORE_PROCESSING_REQUIRED);
  return status;
}

}  // namespace k52::varnel

// The serial transport: a terminal on COM1..COM4 at 9600 baud 8E2, reached
// through the platform's serial port driver.
#include <cstring>

#include "drivers/reader/reader.h"
#include "platform/nt/serial/ntddser.h"

namespace k52::varnel {
namespace {

constexpr ULONG kSetupPauseMs = 200;
constexpr ULONG kReadCode = 1000;   // the smart card class's read pseudo code
constexpr ULONG kWriteCode = 1001;  // and its write pseudo code
constexpr ULONG kLargestSerialAnswer = 260;
constexpr ULONG kPerByteTimeout100ns = 200'000;  // 20 ms per answer byte

NTSTATUS serialDone(PDEVICE_OBJECT, PIRP, PVOID context) {
  KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;  // the request is ours to free
}

// One request to the serial port driver: device control `code`, or a read
// or write of the pseudo codes, with the transmit buffer as input and the
// receive buffer (from `receiveAt`) as output. Waits at most replyTimeout,
// then cancels the request.
NTSTATUS VARNEL_SerialIo(READER_EXTENSION* r, ULONG code, ULONG inLength, ULONG outLength,
                         ULONG receiveAt = 0, ULONG* transferred = nullptr) {
  if (transferred) *transferred = 0;
  if (!r->serialDevice) return STATUS_DEVICE_DATA_ERROR;
  if (receiveAt + outLength > kLinkBufferSize || inLength > kLinkBufferSize) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  std::memset(r->receiveBuffer + receiveAt, 0, outLength);
  PIRP irp = IoAllocateIrp(r->serialDevice->StackSize, FALSE);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  // Control requests share one buffer for input and output.
  UCHAR control[kLinkBufferSize];
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->FileObject = r->serialFile;
  if (code == kReadCode) {
    next->MajorFunction = IRP_MJ_READ;
    next->Parameters.Read.Length = outLength;
    irp->AssociatedIrp.SystemBuffer = r->receiveBuffer + receiveAt;
  } else if (code == kWriteCode) {
    next->MajorFunction = IRP_MJ_WRITE;
    next->Parameters.Write.Length = inLength;
    irp->AssociatedIrp.SystemBuffer = r->uTransmitBuffer;
  } else {
    next->MajorFunction = IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = code;
    next->Parameters.DeviceIoControl.InputBufferLength = inLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = outLength;
    std::memcpy(control, r->uTransmitBuffer, inLength);
    irp->AssociatedIrp.SystemBuffer = control;
  }
  IoSetCompletionRoutine(irp, serialDone, &done, TRUE, TRUE, TRUE);
  IoCallDriver(r->serialDevice, irp);
  LARGE_INTEGER timeout100ns;
  timeout100ns.QuadPart = -static_cast<LONGLONG>(r->replyTimeout);
  // A wait for the terminal's answer also ends when the reader is removed.
  // Writes and port requests run to their end: the terminal is still told
  // of the removal.
  PVOID ends[] = {&done, &r->removalEvent};
  const NTSTATUS waited =
      KeWaitForMultipleObjects(code == kReadCode ? 2 : 1, ends, WaitAny, Executive, KernelMode,
                               FALSE, &timeout100ns, nullptr);
  const bool timedOut = waited == STATUS_TIMEOUT;
  const bool removed = waited == STATUS_WAIT_0 + 1;
  if (timedOut || removed) {
    IoCancelIrp(irp);
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
  }
  NTSTATUS status = irp->IoStatus.Status;
  const ULONG information = static_cast<ULONG>(irp->IoStatus.Information);
  IoFreeIrp(irp);
  std::memset(r->uTransmitBuffer, 0, sizeof r->uTransmitBuffer);
  if (removed) return STATUS_DEVICE_DATA_ERROR;
  if (timedOut || (code == kReadCode && status == STATUS_TIMEOUT)) return STATUS_IO_TIMEOUT;
  const ULONG used = information < outLength ? information : outLength;
  if (transferred) *transferred = code == kWriteCode ? information : used;
  if (code != kReadCode && code != kWriteCode)
    std::memcpy(r->receiveBuffer + receiveAt, control, used);
  return status;
}

template <typename T>
NTSTATUS setPort(READER_EXTENSION* r, ULONG code, const T& value) {
  std::memcpy(r->uTransmitBuffer, &value, sizeof value);
  const NTSTATUS status = VARNEL_SerialIo(r, code, sizeof value, 0);
  WaitX(kSetupPauseMs);
  return status;
}

}  // namespace

NTSTATUS SerialPurge(READER_EXTENSION* r) {
  const ULONG mask =
      SERIAL_PURGE_TXABORT | SERIAL_PURGE_RXABORT | SERIAL_PURGE_TXCLEAR | SERIAL_PURGE_RXCLEAR;
  std::memcpy(r->uTransmitBuffer, &mask, sizeof mask);
  // The frame to send is built after the purge; the purge only borrows the buffer.
  return VARNEL_SerialIo(r, IOCTL_SERIAL_PURGE, sizeof mask, 0);
}

void ReleaseSerialPort(READER_EXTENSION* r) {
  if (r->serialFile) ObDereferenceObject(r->serialFile);
  r->serialFile = nullptr;
  r->serialDevice = nullptr;
}

NTSTATUS VARNEL_InitCommPort(PSMARTCARD_EXTENSION sc) {
  READER_EXTENSION* r = sc->ReaderExtension;
  XDS();
  if (r->transport == kTransportKeyboard) return ClientInit(r);
  r->replyTimeout = kDefaultReplyTimeout100ns;
  SERIAL_TIMEOUTS timeouts{30, 300, 300'000, 0, 5000};
  SERIAL_BAUD_RATE baud{9600};
  SERIAL_LINE_CONTROL line{STOP_BITS_2, EVEN_PARITY, 8};
  SERIAL_CHARS chars{0, 0, 0xFF, 0, 0, 0};
  SERIAL_HANDFLOW flow{0, static_cast<ULONG>(0x80000000), 0, 0};
  bool timedOut = false;
  const auto step = [&](auto send) {
    if (!timedOut && send() == STATUS_IO_TIMEOUT) timedOut = true;
  };
  step([&] { return setPort(r, IOCTL_SERIAL_SET_TIMEOUTS, timeouts); });
  step([&] { return setPort(r, IOCTL_SERIAL_SET_BAUD_RATE, baud); });
  step([&] { return setPort(r, IOCTL_SERIAL_SET_LINE_CONTROL, line); });
  step([&] { return setPort(r, IOCTL_SERIAL_SET_CHARS, chars); });
  step([&] { return setPort(r, IOCTL_SERIAL_SET_HANDFLOW, flow); });
  if (!timedOut) return STATUS_SUCCESS;
  ReleaseSerialPort(r);
  r->transport = kTransportKeyboard;
  return ClientInit(r);
}

NTSTATUS SerialSendReceive(PSMARTCARD_EXTENSION sc) {
  READER_EXTENSION* r = sc->ReaderExtension;
  XDS();
  r->receiveCount = 0;
  if (r->dwTransmitBufferLen > 0) {
    const NTSTATUS written = VARNEL_SerialIo(r, kWriteCode, r->dwTransmitBufferLen, 0);
    if (written == STATUS_IO_TIMEOUT || written == STATUS_TIMEOUT) SerialPurge(r);
    if (!NT_SUCCESS(written) || written == STATUS_TIMEOUT) return STATUS_DEVICE_DATA_ERROR;
  }
  ULONG got = 0;
  NTSTATUS status = VARNEL_SerialIo(r, kReadCode, 0, 3, 0, &got);
  if (status == STATUS_IO_TIMEOUT || (NT_SUCCESS(status) && got < 3)) {
    SerialPurge(r);
    if (r->wtxState == 5) {
      r->wtxState = 0;  // the card's extension ends with the silence
      r->replyTimeout = kDefaultReplyTimeout100ns;
    }
    return STATUS_IO_TIMEOUT;
  }
  if (!NT_SUCCESS(status)) return STATUS_DEVICE_DATA_ERROR;
  const ULONG length = answerLength(r);
  const ULONG remaining = length ? length - 1 : 0;
  if (remaining > kLargestSerialAnswer) return STATUS_DEVICE_DATA_ERROR;
  r->receiveCount = 3;
  r->replyTimeout = (remaining + 200) * kPerByteTimeout100ns;
  if (remaining == 0) return STATUS_SUCCESS;
  status = VARNEL_SerialIo(r, kReadCode, 0, remaining, 3, &got);
  if (status == STATUS_IO_TIMEOUT || (NT_SUCCESS(status) && got < remaining)) {
    SerialPurge(r);
    return STATUS_DEVICE_DATA_ERROR;
  }
  if (!NT_SUCCESS(status)) return STATUS_DEVICE_DATA_ERROR;
  r->receiveCount = 3 + got;
  return STATUS_SUCCESS;
}

}  // namespace k52::varnel

// The reader as a client of the keyboard channel vrlPCSC: attach, send
// command strings, and collect the answer bytes the channel queues.
#include <algorithm>

#include "drivers/kbdchannel/vrlpcsc.h"
#include "drivers/reader/reader.h"

namespace k52::varnel {
namespace {

using kbdchannel::AttachRecord;
using kbdchannel::FifoEntry;
using kbdchannel::SendRequest;

constexpr ULONG kAnswerPauseMs = 100;
// Between two looks at the answer: the wait lasts the reply time-out and
// more (45 s during a PIN entry), which must not be spent on a processor.
constexpr ULONG kAnswerPollStepMs = 5;
constexpr KPRIORITY kDataThreadPriority = 16;
// The data event is a named synchronization event on the system. The
// kernel model's events carry no name, so the reader keeps the name beside
// the event.
constexpr const wchar_t* kDataEventName = L"\\Device\\vrl_pcsc_server_has_datas";

// One FIFO entry into *value; false when the FIFO had none.
bool GetByteFromFifo(READER_EXTENSION* r, UCHAR* value) {
  FifoEntry entry{};
  if (!r->channelDevice ||
      !NT_SUCCESS(SendInternalDeviceIoControl(r->channelDevice, kbdchannel::IOCTL_VRLPCSC_READ_FIFO,
                                              nullptr, 0, &entry, sizeof entry))) {
    return false;
  }
  *value = static_cast<UCHAR>(entry.value);
  return true;
}

void GetDataFromServer(READER_EXTENSION* r) {
  const USHORT pending = r->pendingFifoCount;
  for (USHORT i = 0; i < pending; ++i) {
    UCHAR value = 0;
    if (!GetByteFromFifo(r, &value)) return;
    // An answer longer than the buffer is cut; the exchange then sees a
    // short answer and fails.
    const ULONG at = r->receiveCount;
    if (at < kLinkBufferSize) {
      r->receiveBuffer[at] = value;
      r->receiveCount = at + 1;
    }
  }
}

void ThreadTargetHasDatas(PVOID context) {
  auto* r = static_cast<READER_EXTENSION*>(context);
  r->dataThreadRunning = 1;
  for (;;) {
    KeWaitForSingleObject(&r->dataEvent, Executive, KernelMode, FALSE, nullptr);
    if (r->dataThreadTerminate) break;
    GetDataFromServer(r);
  }
  r->dataThreadRunning = 0;
  PsTerminateSystemThread(STATUS_SUCCESS);
}

NTSTATUS SendStringCardTerminal(READER_EXTENSION* r, USHORT length, const UCHAR* data) {
  SendRequest request{length, 0, data};
  USHORT result = kbdchannel::kSendFailed;
  const NTSTATUS status =
      SendInternalDeviceIoControl(r->channelDevice, kbdchannel::IOCTL_VRLPCSC_SEND_TERMINAL,
                                  &request, sizeof request, &result, sizeof result);
  return NT_SUCCESS(status) && result == kbdchannel::kSendOk ? STATUS_SUCCESS
                                                             : STATUS_DEVICE_DATA_ERROR;
}

}  // namespace

NTSTATUS SendInternalDeviceIoControl(PDEVICE_OBJECT device, ULONG code, PVOID input,
                                     ULONG inputLength, PVOID output, ULONG outputLength) {
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK iosb{};
  PIRP irp = IoBuildDeviceIoControlRequest(code, device, input, inputLength, output, outputLength,
                                           TRUE, &done, &iosb);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  if (IoCallDriver(device, irp) == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
  }
  return iosb.Status;
}

void TargetHasDatas(PVOID context, USHORT count) {
  auto* device = static_cast<PDEVICE_OBJECT>(context);
  auto* r = &static_cast<DEVICE_EXTENSION*>(device->DeviceExtension)->ReaderExtension;
  if (r->removing || !r->channelDevice) return;
  r->pendingFifoCount = count;
  KeSetEvent(&r->dataEvent, IO_NO_INCREMENT, FALSE);
}

void TargetIsUnloading(PVOID context) {
  auto* device = static_cast<PDEVICE_OBJECT>(context);
  auto* r = &static_cast<DEVICE_EXTENSION*>(device->DeviceExtension)->ReaderExtension;
  r->channelAttached = 0;
  r->channelDevice = nullptr;
}

NTSTATUS CreateThreads(READER_EXTENSION* r) {
  KeInitializeEvent(&r->dataEvent, SynchronizationEvent, FALSE);
  RtlInitUnicodeString(&r->dataEventName, kDataEventName);
  KeClearEvent(&r->dataEvent);
  r->dataThreadTerminate = 0;
  const NTSTATUS status =
      PsCreateSystemThread(&r->dataThread, 0, nullptr, nullptr, nullptr, ThreadTargetHasDatas, r);
  if (!NT_SUCCESS(status)) r->dataThread = nullptr;
  (void)kDataThreadPriority;  // the model runs every thread alike
  return status;
}

void DestroyThreads(READER_EXTENSION* r) {
  if (!r->dataThread) return;
  r->dataThreadTerminate = 1;
  KeSetEvent(&r->dataEvent, IO_NO_INCREMENT, FALSE);
  ZwWaitForSingleObject(r->dataThread, FALSE, nullptr);
  ZwClose(r->dataThread);
  r->dataThread = nullptr;
}

NTSTATUS InitClientServer(READER_EXTENSION* r) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"\\Device\\vrlPCSC");
  PFILE_OBJECT file = nullptr;
  PDEVICE_OBJECT device = nullptr;
  const NTSTATUS status = IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &file, &device);
  if (!NT_SUCCESS(status)) return status;
  // The channel's device stays referenced through our open file object.
  r->channelDevice = device;
  r->channelFile = file;
  return STATUS_SUCCESS;
}

void DeInitClientServer(READER_EXTENSION* r) {
  if (r->channelFile) ObDereferenceObject(r->channelFile);
  r->channelFile = nullptr;
  r->channelDevice = nullptr;
}

NTSTATUS AttachToServer(READER_EXTENSION* r) {
  AttachRecord record{TargetIsUnloading, r->readerDevice, TargetHasDatas, 0};
  const NTSTATUS status = SendInternalDeviceIoControl(
      r->channelDevice, kbdchannel::IOCTL_VRLPCSC_ATTACH, &record, sizeof record, nullptr, 0);
  if (NT_SUCCESS(status)) r->channelAttached = 1;
  return status;
}

void DetachFromServer(READER_EXTENSION* r) {
  if (r->channelAttached && r->channelDevice) {
    SendInternalDeviceIoControl(r->channelDevice, kbdchannel::IOCTL_VRLPCSC_DETACH, nullptr, 0,
                                nullptr, 0);
  }
  r->channelAttached = 0;
}

NTSTATUS ClientInit(READER_EXTENSION* r) {
  XDS();
  r->channelDevice = nullptr;
  r->channelFile = nullptr;
  r->channelAttached = 0;
  r->pendingFifoCount = 0;
  r->timeIncrement100ns = KeQueryTimeIncrement();
  NTSTATUS status = CreateThreads(r);
  if (!NT_SUCCESS(status)) return status;
  status = InitClientServer(r);
  if (!NT_SUCCESS(status)) return status;
  status = AttachToServer(r);
  if (!NT_SUCCESS(status)) DeInitClientServer(r);
  return status;
}

void ClientEnd(READER_EXTENSION* r) {
  DestroyThreads(r);
  DetachFromServer(r);
  DeInitClientServer(r);
}

NTSTATUS PS2SendReceive(PSMARTCARD_EXTENSION sc) {
  READER_EXTENSION* r = sc->ReaderExtension;
  XDS();
  if (!r->channelDevice || !r->channelAttached) return STATUS_DEVICE_DATA_ERROR;
  r->receiveBuffer[0] = r->receiveBuffer[1] = 0;
  r->receiveCount = 0;

  // The channel codes the length itself: it gets the bytes after it.
  const USHORT length =
      r->dwTransmitBufferLen >= 2
          ? static_cast<USHORT>((r->uTransmitBuffer[0] << 8) | r->uTransmitBuffer[1])
          : 0;
  const NTSTATUS sent = SendStringCardTerminal(r, length, r->uTransmitBuffer + 2);

  ULONG expected = 3;
  const ULONG baseMs = r->replyTimeout / 10'000;
  ULONG limitMs = baseMs + 1000;
  const ULONG startMs = GetTickCount(r);
  for (;;) {
    if (r->removing) return STATUS_DEVICE_DATA_ERROR;
    const ULONG count = r->receiveCount;
    if (count >= 2) expected = answerLength(r) + 2;
    if (count >= 3) limitMs = baseMs + 100 * expected;
    if (count >= expected && count >= 3) break;
    if (GetTickCount(r) - startMs >= limitMs) break;
    WaitX(kAnswerPollStepMs);
  }
  WaitX(kAnswerPauseMs);
  const ULONG count = r->receiveCount;
  return count >= expected && count != 0 && NT_SUCCESS(sent) ? STATUS_SUCCESS
                                                             : STATUS_DEVICE_DATA_ERROR;
}

}  // namespace k52::varnel

// Card tracking: the terminal says nothing when a card comes or goes, so the
// driver asks it every 1.1 s and completes the waiting presence or absence
// request. A poll never runs together with a request of the platform.
#include "drivers/reader/reader.h"

namespace k52::varnel {
namespace {

constexpr LONGLONG kPollInterval100ns = -11'000'000;  // 1.1 s, relative
constexpr ULONG kClaimStepMs = 50;
constexpr ULONG kRemovalStepMs = 200;
constexpr ULONG kClaimSettleMs = 5;
constexpr ULONG kCleanupPauseMs = 30;

READER_EXTENSION* readerOf(PDEVICE_OBJECT device) {
  return &static_cast<DEVICE_EXTENSION*>(device->DeviceExtension)->ReaderExtension;
}

PSMARTCARD_EXTENSION smartcardOf(READER_EXTENSION* r) {
  return &r->deviceExtension->SmartcardExtension;
}

// Whether the waiting request asks for what the card now does: a presence
// request is met by any state but absent, an absence request by absent.
bool heldRequestMet(PSMARTCARD_EXTENSION sc, bool absent) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  bool met = false;
  if (PIRP held = sc->OsData->NotificationIrp) {
    const ULONG code = IoGetCurrentIrpStackLocation(held)->Parameters.DeviceIoControl.IoControlCode;
    met = code == IOCTL_SMARTCARD_IS_ABSENT ? absent : !absent;
  }
  IoReleaseCancelSpinLock(irql);
  return met;
}

void pollCardStatus(READER_EXTENSION* r) {
  PSMARTCARD_EXTENSION sc = smartcardOf(r);
  VARNEL_UpdateCardStatus(sc, 0);
  const ULONG state = sc->ReaderCapabilities.CurrentState;
  // A change since the last poll is not enough: a card that came and went
  // between two polls, or a request issued after a poll had already seen
  // the change, would leave the request waiting for ever. What counts is
  // whether the request is met now.
  if (r->trackingPending && heldRequestMet(sc, state == SCARD_ABSENT)) {
    MySmartcardCompleteCardTracking(sc);
    r->trackingPending = 0;
    if (state != r->rememberedState) SmartcardUpdateCardCapabilities(sc);
    r->rememberedState = state;
    sc->LastError = 0;
  }
  r->rememberedState = state;
  KIRQL irql;
  KeAcquireSpinLock(&r->claimLock, &irql);
  // Under the claim lock: removal sets its flag there, so a poll ending
  // meanwhile never leaves a due time behind that removal has not seen.
  if (!r->removing) ArmPolling(r, kPollInterval100ns);
  r->busy = 0;
  r->requestPending = 0;
  KeReleaseSpinLock(&r->claimLock, irql);
}

// The two threads: each waits for its command, runs it, and ends on 0x200.
void threadLoop(READER_EXTENSION* r, volatile ULONG* command, KEVENT* wakeUp,
                volatile UCHAR* running, void (*run)(READER_EXTENSION*, ULONG)) {
  KeInitializeEvent(wakeUp, SynchronizationEvent, FALSE);
  *running = 1;
  *command = 0;
  KeSetEvent(&r->startStopEvent, IO_NO_INCREMENT, FALSE);
  for (;;) {
    KeWaitForSingleObject(wakeUp, Executive, KernelMode, FALSE, nullptr);
    const ULONG current = *command;
    if (current == kThreadTerminate) break;
    run(r, current);
  }
  *running = 0;
  KeSetEvent(&r->startStopEvent, IO_NO_INCREMENT, FALSE);
  PsTerminateSystemThread(STATUS_SUCCESS);
}

void runIoCommand(READER_EXTENSION* r, ULONG command) {
  if (command == kThreadPollStatus) pollCardStatus(r);
  XDS();  // anything else is only traced
}

void runNotifyCommand(READER_EXTENSION* r, ULONG command) {
  if (command == kThreadPollRequested) {
    r->IoThreadCmd = kThreadPollStatus;
    KeSetEvent(&r->ioThreadEvent, IO_NO_INCREMENT, FALSE);
  }
  XDS();
}

void VARNEL_IoThread(PVOID context) {
  auto* r = static_cast<READER_EXTENSION*>(context);
  threadLoop(r, &r->IoThreadCmd, &r->ioThreadEvent, &r->ioThreadRunning, runIoCommand);
}

void VARNEL_NotifyTrackingThread(PVOID context) {
  auto* r = static_cast<READER_EXTENSION*>(context);
  threadLoop(r, &r->NotifyThreadCmd, &r->notifyThreadEvent, &r->notifyThreadRunning,
             runNotifyCommand);
}

NTSTATUS startThread(READER_EXTENSION* r, PKSTART_ROUTINE body, HANDLE* handle) {
  KeClearEvent(&r->startStopEvent);
  const NTSTATUS status = PsCreateSystemThread(handle, 0, nullptr, nullptr, nullptr, body, r);
  if (!NT_SUCCESS(status)) {
    *handle = nullptr;
    return status;
  }
  KeWaitForSingleObject(&r->startStopEvent, Executive, KernelMode, FALSE, nullptr);
  return STATUS_SUCCESS;
}

void stopThread(READER_EXTENSION* r, volatile ULONG* command, KEVENT* wakeUp, HANDLE* handle) {
  if (!*handle) return;
  KeClearEvent(&r->startStopEvent);
  *command = kThreadTerminate;
  KeSetEvent(wakeUp, IO_NO_INCREMENT, FALSE);
  KeWaitForSingleObject(&r->startStopEvent, Executive, KernelMode, FALSE, nullptr);
  ZwWaitForSingleObject(*handle, FALSE, nullptr);
  ZwClose(*handle);
  *handle = nullptr;
}

}  // namespace

void ArmPolling(READER_EXTENSION* r, LONGLONG interval100ns) {
  r->pollInterval100ns = interval100ns;
  LARGE_INTEGER due100ns;
  due100ns.QuadPart = interval100ns;
  KeSetTimer(&r->pollTimer, due100ns, &r->pollDpc);
}

void ReaderPollingDpc(PKDPC, PVOID context, PVOID, PVOID) {
  auto* r = static_cast<READER_EXTENSION*>(context);
  KeAcquireSpinLockAtDpcLevel(&r->claimLock);
  // Once removal has begun the reader is its own: no poll, and no new due
  // time, whether or not removal holds the claim yet.
  const bool removing = r->removing;
  const bool claimed = !removing && !r->requestPending;
  if (claimed) {
    r->busy = 1;
    r->requestPending = 1;
  } else if (!removing) {
    ArmPolling(r, r->pollInterval100ns);  // a request runs: poll after it
  }
  KeReleaseSpinLockFromDpcLevel(&r->claimLock);
  if (!claimed) return;
  r->NotifyThreadCmd = kThreadPollRequested;
  KeSetEvent(&r->notifyThreadEvent, IO_NO_INCREMENT, FALSE);
}

void ClaimReader(READER_EXTENSION* r) {
  for (;;) {
    KIRQL irql;
    KeAcquireSpinLock(&r->claimLock, &irql);
    r->requestPending = 1;
    const bool free = !r->busy;
    if (free) r->busy = 1;
    KeReleaseSpinLock(&r->claimLock, irql);
    if (free) break;
    WaitX(kClaimStepMs);
  }
  WaitX(kClaimSettleMs);
}

void ClaimReaderForRemoval(READER_EXTENSION* r) {
  KIRQL irql;
  // The flag under the lock the polling tests it under; the event ends the
  // waits of a running request or poll, which then gives the reader back.
  KeAcquireSpinLock(&r->claimLock, &irql);
  r->removing = 1;
  KeReleaseSpinLock(&r->claimLock, irql);
  KeSetEvent(&r->removalEvent, IO_NO_INCREMENT, FALSE);
  for (;;) {
    KeAcquireSpinLock(&r->claimLock, &irql);
    const bool free = !r->requestPending && !r->busy;
    if (free) r->requestPending = r->busy = 1;
    KeReleaseSpinLock(&r->claimLock, irql);
    if (free) return;
    WaitX(kRemovalStepMs);
  }
}

void ReleaseReader(READER_EXTENSION* r) {
  KIRQL irql;
  KeAcquireSpinLock(&r->claimLock, &irql);
  r->busy = 0;
  r->requestPending = 0;
  KeReleaseSpinLock(&r->claimLock, irql);
}

NTSTATUS StartWorkerThreads(READER_EXTENSION* r) {
  KeInitializeEvent(&r->startStopEvent, NotificationEvent, FALSE);
  NTSTATUS status = startThread(r, VARNEL_IoThread, &r->ioThread);
  if (NT_SUCCESS(status)) status = startThread(r, VARNEL_NotifyTrackingThread, &r->notifyThread);
  return status;
}

void StopWorkerThreads(READER_EXTENSION* r) {
  stopThread(r, &r->IoThreadCmd, &r->ioThreadEvent, &r->ioThread);
  stopThread(r, &r->NotifyThreadCmd, &r->notifyThreadEvent, &r->notifyThread);
}

NTSTATUS VARNEL_StartCardTracking(PSMARTCARD_EXTENSION) {
  return STATUS_SUCCESS;
}

NTSTATUS VARNEL_CardTracking(PSMARTCARD_EXTENSION sc) {
  XDS();
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  if (PIRP held = sc->OsData->NotificationIrp) {
    IoSetCancelRoutine(held, VARNEL_Cancel);
    sc->ReaderExtension->trackingPending = 1;
  }
  IoReleaseCancelSpinLock(irql);
  return STATUS_PENDING;
}

void MySmartcardCompleteCardTracking(PSMARTCARD_EXTENSION sc) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  PIRP held = sc->OsData->NotificationIrp;
  if (held) {
    IoSetCancelRoutine(held, nullptr);
    sc->OsData->NotificationIrp = nullptr;
  }
  IoReleaseCancelSpinLock(irql);
  if (!held) return;
  held->IoStatus.Information = 0;
  held->IoStatus.Status = STATUS_SUCCESS;
  IoCompleteRequest(held, IO_NO_INCREMENT);
}

void VARNEL_Cancel(PDEVICE_OBJECT device, PIRP irp) {
  PSMARTCARD_EXTENSION sc = smartcardOf(readerOf(device));
  if (irp != sc->OsData->NotificationIrp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    return;
  }
  IoSetCancelRoutine(irp, nullptr);
  irp->IoStatus.Information = 0;
  irp->IoStatus.Status = STATUS_SUCCESS;  // a cancelled tracking request still succeeds
  sc->ReaderExtension->trackingPending = 0;
  sc->OsData->NotificationIrp = nullptr;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

NTSTATUS VARNEL_Cleanup(PDEVICE_OBJECT device, PIRP irp) {
  READER_EXTENSION* r = readerOf(device);
  PSMARTCARD_EXTENSION sc = smartcardOf(r);
  XDS();
  WaitX(kCleanupPauseMs);
  if (sc->OsData->NotificationIrp && r->trackingPending) {
    MySmartcardCompleteCardTracking(sc);
    r->trackingPending = 0;
  }
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  if (PIRP held = sc->OsData->NotificationIrp) {
    // Forgotten, but never left hanging: its issuer is going away.
    IoSetCancelRoutine(held, nullptr);
    sc->OsData->NotificationIrp = nullptr;
    IoReleaseCancelSpinLock(irql);
    held->IoStatus.Information = 0;
    held->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(held, IO_NO_INCREMENT);
  } else {
    IoReleaseCancelSpinLock(irql);
  }
  irp->IoStatus.Status = STATUS_SUCCESS;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  WaitX(kCleanupPauseMs);
  return STATUS_SUCCESS;
}

}  // namespace k52::varnel

// Writes: the current write on the line, its end and its time-out.
#include <algorithm>

#include "platform/nt/serial/port.h"

namespace k52::nt::serial {

namespace {

constexpr ULONGLONG kUnitsPerMs = 10'000;
constexpr ULONGLONG kNsPerUnit = 100;

ULONG writeLength(PIRP irp) {
  return IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
}

void finishWrite(PortExtension& ext, NTSTATUS status, Completions& done) {
  if (claim(ext.port->currentWrite)) {
    endCurrentWrite(ext, status, done);
  } else {
    ext.port->writeFinished = true;
    KeCancelTimer(&ext.writeTimer);
  }
}

void startNextWrite(PortExtension& ext) {
  Port& port = *ext.port;
  if (port.currentWrite != nullptr || port.writes.empty()) return;
  PIRP irp = port.writes.front();
  port.writes.pop_front();
  port.currentWrite = irp;
  port.writeFinished = false;
  const ULONG length = writeLength(irp);
  port.line->transmit({static_cast<const std::uint8_t*>(irp->AssociatedIrp.SystemBuffer), length});
  const ULONGLONG lineUnits =
      (static_cast<ULONGLONG>(port.settings.timeFor(length).count()) + kNsPerUnit - 1) / kNsPerUnit;
  const SERIAL_TIMEOUTS& t = port.timeouts;
  const ULONGLONG limitMs =
      ULONGLONG{t.WriteTotalTimeoutMultiplier} * length + t.WriteTotalTimeoutConstant;
  port.writeStart = KeQueryInterruptTime();
  port.writeEnd = port.writeStart + lineUnits;
  port.writeTimeoutDue = limitMs > 0 ? port.writeStart + limitMs * kUnitsPerMs : 0;
  const ULONGLONG due =
      port.writeTimeoutDue ? std::min(port.writeEnd, port.writeTimeoutDue) : port.writeEnd;
  LARGE_INTEGER delay;
  delay.QuadPart = -static_cast<LONGLONG>(due - port.writeStart);
  KeSetTimer(&ext.writeTimer, delay, &ext.writeDpc);
}

void writeTimerExpired(PKDPC, PVOID context, PVOID, PVOID) {
  PortExtension& ext = *portExtension(static_cast<PDEVICE_OBJECT>(context));
  Port& port = *ext.port;
  Completions done;
  KIRQL irql;
  KeAcquireSpinLock(&ext.lock, &irql);
  const ULONGLONG now = KeQueryInterruptTime();
  if (port.currentWrite && !port.writeFinished) {
    if (now >= port.writeEnd) {
      finishWrite(ext, STATUS_SUCCESS, done);
    } else if (port.writeTimeoutDue != 0 && now >= port.writeTimeoutDue) {
      finishWrite(ext, STATUS_TIMEOUT, done);
    }
  }
  KeReleaseSpinLock(&ext.lock, irql);
  done.completeAll();
}

}  // namespace

ULONG charactersSent(const Port& port) {
  const ULONGLONG elapsed = KeQueryInterruptTime() - port.writeStart;
  const std::uint64_t sent =
      port.settings.charactersIn(std::chrono::nanoseconds(elapsed * kNsPerUnit));
  return static_cast<ULONG>(std::min<std::uint64_t>(sent, writeLength(port.currentWrite)));
}

void initializeWriteTimer(PDEVICE_OBJECT device) {
  PortExtension& ext = *portExtension(device);
  KeInitializeTimer(&ext.writeTimer);
  KeInitializeDpc(&ext.writeDpc, writeTimerExpired, device);
}

void endCurrentWrite(PortExtension& ext, NTSTATUS status, Completions& done) {
  Port& port = *ext.port;
  KeCancelTimer(&ext.writeTimer);
  ULONG sent = writeLength(port.currentWrite);
  if (status != STATUS_SUCCESS) {
    // The rest never goes out.
    sent = charactersSent(port);
    port.line->abortTransmit();
  }
  done.add(port.currentWrite, status, sent);
  port.currentWrite = nullptr;
  startNextWrite(ext);
}

void abortWrites(PortExtension& ext, Completions& done) {
  Port& port = *ext.port;
  cancelQueued(port.writes, done);
  if (port.currentWrite && !port.writeFinished) finishWrite(ext, STATUS_CANCELLED, done);
}

NTSTATUS dispatchWrite(PDEVICE_OBJECT device, PIRP irp) {
  if (portGone(device)) return completeRequest(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  if (writeLength(irp) == 0) return completeRequest(irp, STATUS_SUCCESS, 0);
  PortExtension& ext = *portExtension(device);
  Completions done;
  KIRQL irql;
  KeAcquireSpinLock(&ext.lock, &irql);
  if (queueCancelable(ext.port->writes, irp, done)) startNextWrite(ext);
  KeReleaseSpinLock(&ext.lock, irql);
  done.completeAll();
  return STATUS_PENDING;
}

}  // namespace k52::nt::serial

// Reads: the receive queue, the current read and its time-outs.
#include <algorithm>

#include "platform/nt/serial/port.h"

namespace k52::nt::serial {

namespace {

constexpr ULONGLONG kUnitsPerMs = 10'000;

ULONG readLength(PIRP irp) {
  return IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
}

LARGE_INTEGER absoluteDelay(ULONGLONG due) {
  LARGE_INTEGER t;
  const ULONGLONG now = KeQueryInterruptTime();
  t.QuadPart = -static_cast<LONGLONG>(due > now ? due - now : 0);
  return t;
}

// Moves queued bytes into the current read's buffer.
void fillCurrentRead(Port& port) {
  PIRP irp = port.currentRead;
  const ULONG room = readLength(irp) - port.readDone;
  const auto n = static_cast<ULONG>(std::min<std::size_t>(room, port.received.size()));
  auto* out = static_cast<std::uint8_t*>(irp->AssociatedIrp.SystemBuffer) + port.readDone;
  std::copy_n(port.received.begin(), n, out);
  port.received.erase(port.received.begin(), port.received.begin() + n);
  port.readDone += n;
}

void armInterval(PortExtension& ext) {
  Port& port = *ext.port;
  port.readIntervalDue = KeQueryInterruptTime() + port.readInterval * kUnitsPerMs;
  KeSetTimer(&ext.readIntervalTimer, absoluteDelay(port.readIntervalDue), &ext.readIntervalDpc);
}

void stopReadTimers(PortExtension& ext) {
  KeCancelTimer(&ext.readTotalTimer);
  KeCancelTimer(&ext.readIntervalTimer);
  ext.port->readTotalDue = 0;
  ext.port->readIntervalDue = 0;
}

// Ends the current read unless a cancel owns it.
void finishRead(PortExtension& ext, NTSTATUS status, Completions& done) {
  if (claim(ext.port->currentRead)) {
    endCurrentRead(ext, status, done);
  } else {
    ext.port->readFinished = true;
    stopReadTimers(ext);
  }
}

// Serves the next read when none is current: at once with what the queue
// holds when that ends it, else it waits for bytes and its time-outs.
void startNextRead(PortExtension& ext, Completions& done) {
  Port& port = *ext.port;
  while (port.currentRead == nullptr && !port.reads.empty()) {
    port.currentRead = port.reads.front();
    port.reads.pop_front();
    port.readDone = 0;
    port.readFinished = false;
    port.readReturnsOnFirstByte = false;
    port.readInterval = 0;
    fillCurrentRead(port);
    const ULONG length = readLength(port.currentRead);
    const SERIAL_TIMEOUTS& t = port.timeouts;
    ULONGLONG totalMs;
    if (t.ReadIntervalTimeout == MAXULONG) {
      // Return with what is there: at once, or with the first byte to come.
      if (port.readDone > 0 ||
          (t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0)) {
        finishRead(ext, STATUS_SUCCESS, done);
        continue;
      }
      port.readReturnsOnFirstByte = t.ReadTotalTimeoutMultiplier == MAXULONG;
      totalMs = port.readReturnsOnFirstByte
                    ? t.ReadTotalTimeoutConstant
                    : ULONGLONG{t.ReadTotalTimeoutMultiplier} * length + t.ReadTotalTimeoutConstant;
    } else {
      totalMs = ULONGLONG{t.ReadTotalTimeoutMultiplier} * length + t.ReadTotalTimeoutConstant;
      port.readInterval = t.ReadIntervalTimeout;
    }
    if (port.readDone == length) {
      finishRead(ext, STATUS_SUCCESS, done);
      continue;
    }
    if (totalMs > 0) {
      port.readTotalDue = KeQueryInterruptTime() + totalMs * kUnitsPerMs;
      KeSetTimer(&ext.readTotalTimer, absoluteDelay(port.readTotalDue), &ext.readTotalDpc);
    }
    if (port.readInterval > 0 && port.readDone > 0) armInterval(ext);
  }
}

void readTimedOut(PKDPC, PVOID context, PVOID, PVOID) {
  auto* device = static_cast<PDEVICE_OBJECT>(context);
  PortExtension& ext = *portExtension(device);
  Port& port = *ext.port;
  Completions done;
  KIRQL irql;
  KeAcquireSpinLock(&ext.lock, &irql);
  // A timer of an earlier read may fire late; only a due time of this one counts.
  const ULONGLONG now = KeQueryInterruptTime();
  const bool due = (port.readTotalDue != 0 && now >= port.readTotalDue) ||
                   (port.readIntervalDue != 0 && now >= port.readIntervalDue);
  if (port.currentRead && !port.readFinished && due) finishRead(ext, STATUS_TIMEOUT, done);
  KeReleaseSpinLock(&ext.lock, irql);
  done.completeAll();
}

}  // namespace

void initializeReadTimers(PDEVICE_OBJECT device) {
  PortExtension& ext = *portExtension(device);
  KeInitializeTimer(&ext.readTotalTimer);
  KeInitializeTimer(&ext.readIntervalTimer);
  KeInitializeDpc(&ext.readTotalDpc, readTimedOut, device);
  KeInitializeDpc(&ext.readIntervalDpc, readTimedOut, device);
}

void endCurrentRead(PortExtension& ext, NTSTATUS status, Completions& done) {
  Port& port = *ext.port;
  stopReadTimers(ext);
  done.add(port.currentRead, status, port.readDone);
  port.currentRead = nullptr;
  startNextRead(ext, done);
}

void abortReads(PortExtension& ext, Completions& done) {
  Port& port = *ext.port;
  // Those waiting first, so that ending the current one starts none of them.
  cancelQueued(port.reads, done);
  if (port.currentRead && !port.readFinished) finishRead(ext, STATUS_CANCELLED, done);
}

void receiveBytes(PDEVICE_OBJECT device, std::span<const std::uint8_t> bytes) {
  PortExtension& ext = *portExtension(device);
  Port& port = *ext.port;
  Completions done;
  KIRQL irql;
  KeAcquireSpinLock(&ext.lock, &irql);
  if (port.open) {
    const std::size_t room =
        port.queueSize - std::min<std::size_t>(port.queueSize, port.received.size());
    const std::size_t kept = std::min(room, bytes.size());
    port.received.insert(port.received.end(), bytes.begin(), bytes.begin() + kept);
    if (kept < bytes.size()) port.errors |= SERIAL_ERROR_QUEUEOVERRUN;
    if (port.currentRead && !port.readFinished) {
      const ULONG before = port.readDone;
      fillCurrentRead(port);
      if (port.readDone == readLength(port.currentRead) ||
          (port.readReturnsOnFirstByte && port.readDone > 0)) {
        finishRead(ext, STATUS_SUCCESS, done);
      } else if (port.readDone > before && port.readInterval > 0) {
        armInterval(ext);
      }
    }
  }
  KeReleaseSpinLock(&ext.lock, irql);
  done.completeAll();
}

NTSTATUS dispatchRead(PDEVICE_OBJECT device, PIRP irp) {
  if (portGone(device)) return completeRequest(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  if (readLength(irp) == 0) return completeRequest(irp, STATUS_SUCCESS, 0);
  PortExtension& ext = *portExtension(device);
  Completions done;
  KIRQL irql;
  KeAcquireSpinLock(&ext.lock, &irql);
  if (queueCancelable(ext.port->reads, irp, done)) startNextRead(ext, done);
  KeReleaseSpinLock(&ext.lock, irql);
  done.completeAll();
  return STATUS_PENDING;
}

}  // namespace k52::nt::serial

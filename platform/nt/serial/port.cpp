// What the read and write paths share: completion outside the lock and the
// cancel routine.
#include <algorithm>

#include "platform/nt/serial/port.h"

namespace k52::nt::serial {

void Completions::add(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  entries_.push_back({irp, status, information});
}

void Completions::completeAll() {
  for (const Entry& e : entries_) completeRequest(e.irp, e.status, e.information);
  entries_.clear();
}

NTSTATUS completeRequest(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

namespace {

bool removeFrom(std::deque<PIRP>& queue, PIRP irp) {
  const auto it = std::find(queue.begin(), queue.end(), irp);
  if (it == queue.end()) return false;
  queue.erase(it);
  return true;
}

void cancelRoutine(PDEVICE_OBJECT device, PIRP irp) {
  IoReleaseCancelSpinLock(irp->CancelIrql);
  PortExtension& ext = *portExtension(device);
  Port& port = *ext.port;
  Completions done;
  KIRQL irql;
  KeAcquireSpinLock(&ext.lock, &irql);
  if (irp == port.currentRead) {
    endCurrentRead(ext, STATUS_CANCELLED, done);
  } else if (irp == port.currentWrite) {
    endCurrentWrite(ext, STATUS_CANCELLED, done);
  } else if (removeFrom(port.reads, irp) || removeFrom(port.writes, irp)) {
    done.add(irp, STATUS_CANCELLED, 0);
  }
  KeReleaseSpinLock(&ext.lock, irql);
  done.completeAll();
}

}  // namespace

bool queueCancelable(std::deque<PIRP>& queue, PIRP irp, Completions& done) {
  IoMarkIrpPending(irp);
  // Queued first: a cancel that is already under way finds it there.
  queue.push_back(irp);
  IoSetCancelRoutine(irp, cancelRoutine);
  if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
    queue.pop_back();
    done.add(irp, STATUS_CANCELLED, 0);
    return false;
  }
  return true;
}

bool claim(PIRP irp) {
  return IoSetCancelRoutine(irp, nullptr) != nullptr;
}

void cancelQueued(std::deque<PIRP>& queue, Completions& done) {
  std::deque<PIRP> kept;
  for (PIRP irp : queue) {
    if (claim(irp)) {
      done.add(irp, STATUS_CANCELLED, 0);
    } else {
      kept.push_back(irp);  // its cancel routine is on the way
    }
  }
  queue.swap(kept);
}

}  // namespace k52::nt::serial

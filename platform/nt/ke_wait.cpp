// Events and waits on dispatcher objects.
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/nt/ke_internal.h"

namespace k52::nt {

namespace {

bool isSynchronization(const DISPATCHER_HEADER& header) {
  return header.Type == EventSynchronizationObject || header.Type == TimerSynchronizationObject;
}

// A synchronization object is reset by the wait it satisfies. Call with the
// dispatcher lock held.
void consume(DISPATCHER_HEADER& header) {
  if (isSynchronization(header)) header.SignalState = 0;
}

void requireWaitableIrql(const LARGE_INTEGER* timeout, const char* call) {
  const bool zero = timeout != nullptr && timeout->QuadPart == 0;
  if (!zero && KeGetCurrentIrql() >= DISPATCH_LEVEL) {
    throw std::logic_error(std::string(call) + " waits at DISPATCH_LEVEL");
  }
}

}  // namespace

std::mutex& dispatcherLock() {
  static std::mutex lock;
  return lock;
}

std::optional<Duration> deadlineOf(const LARGE_INTEGER* timeout) {
  if (timeout == nullptr) return std::nullopt;
  Scheduler& s = currentScheduler();
  const LONGLONG value = timeout->QuadPart;
  if (value <= 0) return s.now() + std::chrono::nanoseconds(-value * 100);
  return std::chrono::nanoseconds((value - s.systemTimeAtStart()) * 100);
}

void signalThreadObject(PKTHREAD thread) {
  {
    std::lock_guard lock(dispatcherLock());
    thread->Header.SignalState = 1;
  }
  currentScheduler().notifyWaiters();
}

void KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
  std::lock_guard lock(dispatcherLock());
  Event->Header = {};
  Event->Header.Type =
      Type == SynchronizationEvent ? EventSynchronizationObject : EventNotificationObject;
  Event->Header.SignalState = State ? 1 : 0;
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY, BOOLEAN) {
  LONG previous;
  {
    std::lock_guard lock(dispatcherLock());
    previous = Event->Header.SignalState;
    Event->Header.SignalState = 1;
  }
  currentScheduler().notifyWaiters();
  return previous;
}

LONG KeResetEvent(PRKEVENT Event) {
  std::lock_guard lock(dispatcherLock());
  const LONG previous = Event->Header.SignalState;
  Event->Header.SignalState = 0;
  return previous;
}

void KeClearEvent(PRKEVENT Event) {
  KeResetEvent(Event);
}

LONG KeReadStateEvent(PRKEVENT Event) {
  std::lock_guard lock(dispatcherLock());
  return Event->Header.SignalState;
}

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                               PLARGE_INTEGER Timeout) {
  PVOID objects[] = {Object};
  return KeWaitForMultipleObjects(1, objects, WaitAny, Executive, KernelMode, FALSE, Timeout,
                                  nullptr);
}

NTSTATUS KeWaitForMultipleObjects(ULONG Count, PVOID Object[], WAIT_TYPE WaitType, KWAIT_REASON,
                                  KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Timeout, PKWAIT_BLOCK) {
  if (Count == 0 || Object == nullptr) return STATUS_INVALID_PARAMETER;
  requireWaitableIrql(Timeout, "KeWaitForMultipleObjects");
  std::vector<DISPATCHER_HEADER*> headers;
  for (ULONG i = 0; i < Count; ++i) headers.push_back(static_cast<DISPATCHER_HEADER*>(Object[i]));
  ULONG satisfied = 0;
  const std::function<bool()> ready = [&] {
    std::lock_guard lock(dispatcherLock());
    if (WaitType == WaitAny) {
      for (ULONG i = 0; i < Count; ++i) {
        if (headers[i]->SignalState > 0) {
          consume(*headers[i]);
          satisfied = i;
          return true;
        }
      }
      return false;
    }
    for (auto* header : headers) {
      if (header->SignalState <= 0) return false;
    }
    for (auto* header : headers) consume(*header);
    return true;
  };
  const bool done = currentScheduler().wait(ready, deadlineOf(Timeout), "KeWaitForObjects");
  return done ? STATUS_WAIT_0 + static_cast<NTSTATUS>(satisfied) : STATUS_TIMEOUT;
}

}  // namespace k52::nt

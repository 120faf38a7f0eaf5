// Timers and DPCs: each set timer and each queued DPC is one scheduler event.
#include <map>

#include "platform/nt/ke_internal.h"

namespace k52::nt {

namespace {

// Set timers and queued DPCs by address (true = timer), so that
// forgetDispatcherObjects can find those inside freed memory.
std::map<const void*, bool>& armedObjects() {
  static std::map<const void*, bool> objects;
  return objects;
}

void runDpc(PKDPC dpc) {
  PKDEFERRED_ROUTINE routine;
  {
    std::lock_guard lock(dispatcherLock());
    if (dpc->DpcData == 0) return;
    dpc->DpcData = 0;
    armedObjects().erase(dpc);
    routine = dpc->DeferredRoutine;
  }
  if (routine) routine(dpc, dpc->DeferredContext, dpc->SystemArgument1, dpc->SystemArgument2);
}

void expire(PKTIMER timer);

// Call with the dispatcher lock held.
void arm(PKTIMER timer, Duration delay) {
  timer->TimerEvent = currentScheduler().schedule(delay, [timer] { expire(timer); });
  armedObjects()[timer] = true;
}

void expire(PKTIMER timer) {
  PKDPC dpc;
  LARGE_INTEGER due;
  {
    std::lock_guard lock(dispatcherLock());
    timer->TimerEvent = 0;
    armedObjects().erase(timer);
    timer->Header.SignalState = 1;
    if (timer->Period > 0) arm(timer, std::chrono::milliseconds(timer->Period));
    dpc = timer->Dpc;
    due = timer->DueTime;
  }
  currentScheduler().notifyWaiters();
  if (dpc && dpc->DeferredRoutine) {
    dpc->DeferredRoutine(dpc, dpc->DeferredContext, reinterpret_cast<PVOID>(due.u.LowPart),
                         reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(due.u.HighPart)));
  }
}

// Call with the dispatcher lock held.
bool disarm(PKTIMER timer) {
  if (timer->TimerEvent == 0) return false;
  currentScheduler().cancel(timer->TimerEvent);
  timer->TimerEvent = 0;
  armedObjects().erase(timer);
  return true;
}

}  // namespace

void KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext) {
  *Dpc = {};
  Dpc->DeferredRoutine = DeferredRoutine;
  Dpc->DeferredContext = DeferredContext;
}

BOOLEAN KeInsertQueueDpc(PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2) {
  std::lock_guard lock(dispatcherLock());
  if (Dpc->DpcData != 0) return FALSE;
  Dpc->SystemArgument1 = SystemArgument1;
  Dpc->SystemArgument2 = SystemArgument2;
  Dpc->DpcData = currentScheduler().schedule(Duration::zero(), [Dpc] { runDpc(Dpc); });
  armedObjects()[Dpc] = false;
  return TRUE;
}

BOOLEAN KeRemoveQueueDpc(PRKDPC Dpc) {
  std::lock_guard lock(dispatcherLock());
  if (Dpc->DpcData == 0) return FALSE;
  currentScheduler().cancel(Dpc->DpcData);
  Dpc->DpcData = 0;
  armedObjects().erase(Dpc);
  return TRUE;
}

void KeInitializeTimer(PKTIMER Timer) {
  KeInitializeTimerEx(Timer, NotificationTimer);
}

void KeInitializeTimerEx(PKTIMER Timer, TIMER_TYPE Type) {
  std::lock_guard lock(dispatcherLock());
  *Timer = {};
  Timer->Header.Type =
      Type == SynchronizationTimer ? TimerSynchronizationObject : TimerNotificationObject;
}

BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc) {
  return KeSetTimerEx(Timer, DueTime, 0, Dpc);
}

BOOLEAN KeSetTimerEx(PKTIMER Timer, LARGE_INTEGER DueTime, LONG Period, PKDPC Dpc) {
  Scheduler& s = currentScheduler();
  const Duration due = *deadlineOf(&DueTime);
  std::lock_guard lock(dispatcherLock());
  const bool wasSet = disarm(Timer);
  Timer->Header.SignalState = 0;
  Timer->DueTime = DueTime;
  Timer->Period = Period < 0 ? 0 : Period;
  Timer->Dpc = Dpc;
  arm(Timer, due - s.now());
  return wasSet ? TRUE : FALSE;
}

BOOLEAN KeCancelTimer(PKTIMER Timer) {
  std::lock_guard lock(dispatcherLock());
  return disarm(Timer) ? TRUE : FALSE;
}

BOOLEAN KeReadStateTimer(PKTIMER Timer) {
  std::lock_guard lock(dispatcherLock());
  return Timer->Header.SignalState > 0 ? TRUE : FALSE;
}

void forgetDispatcherObjects(const void* begin, std::size_t size) {
  const auto* first = static_cast<const char*>(begin);
  std::lock_guard lock(dispatcherLock());
  auto& armed = armedObjects();
  auto it = armed.lower_bound(first);
  while (it != armed.end() && static_cast<const char*>(it->first) < first + size) {
    if (it->second) {
      auto* timer = static_cast<KTIMER*>(const_cast<void*>(it->first));
      currentScheduler().cancel(timer->TimerEvent);
      timer->TimerEvent = 0;
    } else {
      auto* dpc = static_cast<KDPC*>(const_cast<void*>(it->first));
      currentScheduler().cancel(dpc->DpcData);
      dpc->DpcData = 0;
    }
    it = armed.erase(it);
  }
}

void clearDispatcherObjects() {
  std::lock_guard lock(dispatcherLock());
  armedObjects().clear();
}

}  // namespace k52::nt

// Spin locks and IRQL.
#include <atomic>

#include "platform/nt/ke_internal.h"

namespace k52::nt {

namespace {

bool tryAcquire(PKSPIN_LOCK lock) {
  ULONG_PTR expected = 0;
  return std::atomic_ref<ULONG_PTR>(*lock).compare_exchange_strong(expected, 1,
                                                                   std::memory_order_acquire);
}

// A contended lock blocks (virtual: hands the processor to its holder; real:
// sleeps until a release) instead of spinning, which on the simulated single
// processor could never end.
void acquire(PKSPIN_LOCK lock) {
  if (tryAcquire(lock)) return;
  currentScheduler().wait([lock] { return tryAcquire(lock); }, std::nullopt, "KeAcquireSpinLock");
}

void release(PKSPIN_LOCK lock) {
  std::atomic_ref<ULONG_PTR>(*lock).store(0, std::memory_order_release);
  currentScheduler().notifyWaiters();
}

}  // namespace

void KeInitializeSpinLock(PKSPIN_LOCK SpinLock) {
  *SpinLock = 0;
}

void KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql) {
  *OldIrql = KeGetCurrentIrql();
  acquire(SpinLock);
  Scheduler::setCurrentIrql(DISPATCH_LEVEL);
}

void KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql) {
  Scheduler::setCurrentIrql(NewIrql);
  release(SpinLock);
}

void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock) {
  acquire(SpinLock);
}

void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock) {
  release(SpinLock);
}

KIRQL KeGetCurrentIrql() {
  return Scheduler::currentIrql();
}

void KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql) {
  *OldIrql = KeGetCurrentIrql();
  Scheduler::setCurrentIrql(NewIrql);
}

void KeLowerIrql(KIRQL NewIrql) {
  Scheduler::setCurrentIrql(NewIrql);
}

}  // namespace k52::nt

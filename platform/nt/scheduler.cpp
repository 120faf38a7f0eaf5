#include "platform/nt/scheduler.h"

namespace k52::nt {

namespace {

thread_local KIRQL tlsIrql = PASSIVE_LEVEL;
thread_local int tlsEventDepth = 0;

}  // namespace

KIRQL Scheduler::currentIrql() {
  return tlsEventDepth > 0 && tlsIrql < DISPATCH_LEVEL ? DISPATCH_LEVEL : tlsIrql;
}

void Scheduler::setCurrentIrql(KIRQL irql) {
  tlsIrql = irql;
}

bool Scheduler::setTimeIncrement(ULONG increment) {
  if (increment < kFinestTimeIncrement || increment > kCoarsestTimeIncrement) return false;
  timeIncrement_.store(increment, std::memory_order_relaxed);
  return true;
}

bool Scheduler::inEvent() {
  return tlsEventDepth > 0;
}

void Scheduler::runInEventContext(const Action& action) {
  // Restores the interrupted context even when the action throws.
  struct Context {
    KIRQL saved = tlsIrql;
    Context() {
      ++tlsEventDepth;
      tlsIrql = DISPATCH_LEVEL;
    }
    ~Context() {
      --tlsEventDepth;
      tlsIrql = saved;
    }
  } context;
  action();
}

}  // namespace k52::nt

// Clock reads, delays and processor stalls.
#include <stdexcept>

#include "platform/nt/ke_internal.h"

namespace k52::nt {

namespace {

LONGLONG hundredsOfNs(Duration d) {
  return d.count() / 100;
}

}  // namespace

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Interval) {
  if (Interval == nullptr) return STATUS_INVALID_PARAMETER;
  if (KeGetCurrentIrql() >= DISPATCH_LEVEL) {
    throw std::logic_error("KeDelayExecutionThread at DISPATCH_LEVEL");
  }
  currentScheduler().wait([] { return false; }, deadlineOf(Interval), "KeDelayExecutionThread");
  return STATUS_SUCCESS;
}

void KeStallExecutionProcessor(ULONG MicroSeconds) {
  currentScheduler().stall(std::chrono::microseconds(MicroSeconds));
}

void KeQueryTickCount(PLARGE_INTEGER TickCount) {
  Scheduler& s = currentScheduler();
  s.poll();
  TickCount->QuadPart = s.now() / s.tickLength();
}

ULONG KeQueryTimeIncrement() {
  return currentScheduler().timeIncrement();
}

void KeQuerySystemTime(PLARGE_INTEGER CurrentTime) {
  Scheduler& s = currentScheduler();
  s.poll();
  CurrentTime->QuadPart = s.systemTimeAtStart() + hundredsOfNs(s.now());
}

ULONGLONG KeQueryInterruptTime() {
  return static_cast<ULONGLONG>(hundredsOfNs(currentScheduler().now()));
}

}  // namespace k52::nt

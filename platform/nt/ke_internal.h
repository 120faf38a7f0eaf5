// What the Ke layer shares with the rest of the kernel model.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>

#include "platform/nt/ke.h"
#include "platform/nt/scheduler.h"

namespace k52::nt {

// The scheduler of the current Kernel; throws std::logic_error when there is
// no kernel.
Scheduler& currentScheduler();

// Guards the state of every dispatcher object, timer and DPC.
std::mutex& dispatcherLock();

// The scheduler deadline of an NT time-out (null = none); see ke.h.
std::optional<Duration> deadlineOf(const LARGE_INTEGER* timeout);

// Marks a thread object signalled (it ended) and wakes its waiters.
void signalThreadObject(PKTHREAD thread);

// Cancels set timers and queued DPCs stored in [begin, begin + size), so
// that no event touches memory that is about to be freed.
void forgetDispatcherObjects(const void* begin, std::size_t size);

// Forgets every set timer and queued DPC, when their kernel goes away.
void clearDispatcherObjects();

}  // namespace k52::nt

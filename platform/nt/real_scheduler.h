// The scheduler on the system clock: real threads, and one worker thread that
// runs events in due order. Waits use a condition variable; stalls really
// busy-wait. This is what the drivers run on inside pcscd.
//
// The devices are models that run on the same busy host as the drivers, not
// hardware beside it: the worker may fall behind. A driver must never see
// time pass without what the devices did in that time, or it takes a late
// event for a missing one (a lost acknowledgment, a silent card) on a loaded
// machine. So a thread that reads the clock (poll) or whose wait times out
// first lets the worker run every event due by then; only then does its read
// return, or its wait look at its condition once more. A clock read then
// moves on to the next tick or event, as on the virtual clock, sleeping
// meanwhile: drivers that spin on the tick count cost no processor.
//
// Threads started with startThread() must have ended before the scheduler is
// destroyed: the destructor joins them. Pending events are dropped.
#pragma once

#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/nt/event_queue.h"
#include "platform/nt/scheduler.h"

namespace k52::nt {

// NT runs its system threads, the keyboard's raw input thread among them,
// above every user program's, so that a busy program delays them little.
// The calling thread gets the same edge over the host's ordinary processes
// where the host allows it (root may raise a thread's priority); elsewhere
// it stays as it is. The scheduler's own threads and the threads that bring
// a device's interrupts in call it.
void runAsSystemThread();

class RealScheduler final : public Scheduler {
 public:
  RealScheduler();
  ~RealScheduler() override;
  RealScheduler(const RealScheduler&) = delete;
  RealScheduler& operator=(const RealScheduler&) = delete;

  Duration now() const override { return clock_.now(); }
  EventId schedule(Duration delay, Action action, EventKind kind = EventKind::Dispatch) override;
  bool cancel(EventId id) override;
  std::uint64_t random() override;

  void startThread(std::string name, Action body) override;
  bool wait(const std::function<bool()>& ready, std::optional<Duration> deadline,
            std::string_view what) override;
  void notifyWaiters() override;
  void stall(Duration d) override;
  void poll() override;

  bool runFor(Duration d) override;
  bool runUntil(const std::function<bool()>& done, Duration limit) override;
  bool runUntilIdle(Duration limit) override;
  std::string failure() const override { return {}; }
  std::int64_t systemTimeAtStart() const override { return systemTimeAtStart_; }
  void shutdown() override;

 private:
  void workerMain();
  // Blocks until every event due by `t` has run (bounded by kCatchUpLimit),
  // for a thread at PASSIVE_LEVEL; does nothing in an event or at raised
  // IRQL, where the event in the way might wait for the caller.
  void catchUp(Duration t);

  RealClock clock_;
  std::int64_t systemTimeAtStart_;

  std::mutex eventsMutex_;
  std::condition_variable eventsChanged_;
  EventQueue queue_;
  bool running_ = false;  // an event is running
  std::uint64_t eventsRun_ = 0;
  bool stop_ = false;

  std::mutex waitMutex_;
  std::condition_variable waitersChanged_;

  std::mutex randomMutex_;
  std::mt19937_64 random_;

  std::mutex threadsMutex_;
  std::vector<std::thread> threads_;
  std::thread worker_;
};

}  // namespace k52::nt

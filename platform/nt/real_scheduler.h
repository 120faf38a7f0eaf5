// The scheduler on the system clock: real threads, and one worker thread that
// runs events in due order. Waits use a condition variable; stalls really
// busy-wait. This is what the drivers run on inside pcscd.
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
  void poll() override {}

  bool runFor(Duration d) override;
  bool runUntil(const std::function<bool()>& done, Duration limit) override;
  bool runUntilIdle(Duration limit) override;
  std::string failure() const override { return {}; }
  std::int64_t systemTimeAtStart() const override { return systemTimeAtStart_; }
  void shutdown() override;

 private:
  void workerMain();

  RealClock clock_;
  std::int64_t systemTimeAtStart_;

  std::mutex eventsMutex_;
  std::condition_variable eventsChanged_;
  EventQueue queue_;
  bool running_ = false;  // an event is running
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

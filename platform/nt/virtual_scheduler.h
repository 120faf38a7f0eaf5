// The deterministic scheduler: a virtual clock, one event queue and simulated
// threads that take turns.
//
// Every simulated thread is a real std::thread, but only the one holding the
// baton runs. A thread gives the baton up only when it blocks (a wait, a
// delay, a processor stall at PASSIVE_LEVEL, a poll of the clock) or ends.
// The thread giving it up then picks the next thread to run: the first, in
// creation order, that is ready (new, its wait satisfied, or timed out). When
// none is, it runs the earliest event, moving the clock to its due time, and
// looks again. When no thread can run and no event is left, that is a
// deadlock: the simulation fails and the first thread gets the baton back
// with the description (run helpers return false, other waits throw
// SimulationError). So the same seed and the same code give the same run.
//
// The thread that constructs the scheduler is the first simulated thread; the
// test runs there and moves the simulation with runFor(), runUntil() and
// runUntilIdle(), or by calling driver code that blocks. All calls into the
// scheduler, and every object it runs, must come from simulated threads or
// events. The destructor, called on the first thread, ends the other threads
// by throwing ThreadExit into them where they block, one at a time.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/nt/event_queue.h"
#include "platform/nt/scheduler.h"

namespace k52::nt {

class VirtualScheduler final : public Scheduler {
 public:
  explicit VirtualScheduler(std::uint64_t seed);
  ~VirtualScheduler() override;
  VirtualScheduler(const VirtualScheduler&) = delete;
  VirtualScheduler& operator=(const VirtualScheduler&) = delete;

  Duration now() const override { return clock_.now(); }
  EventId schedule(Duration delay, Action action, EventKind kind = EventKind::Dispatch) override;
  bool cancel(EventId id) override;
  std::uint64_t random() override { return random_(); }

  void startThread(std::string name, Action body) override;
  bool wait(const std::function<bool()>& ready, std::optional<Duration> deadline,
            std::string_view what) override;
  void notifyWaiters() override {}
  void stall(Duration d) override;
  void poll() override;

  bool runFor(Duration d) override;
  bool runUntil(const std::function<bool()>& done, Duration limit) override;
  bool runUntilIdle(Duration limit) override;
  std::string failure() const override { return failure_; }
  std::int64_t systemTimeAtStart() const override;
  void shutdown() override;

  // The simulation's clock, for code that takes a k52::Clock to read time.
  const VirtualClock& clock() const { return clock_; }

  // Events still pending (for tests of the model itself).
  std::size_t pendingEvents() const { return queue_.size(); }

 private:
  struct SimThread;
  enum class Wake { Ready, TimedOut, Idle, Failed };

  SimThread& self();
  Wake block(SimThread& me, const std::function<bool()>* ready, std::optional<Duration> deadline,
             std::string_view what, bool wakeOnIdle);
  void reschedule(SimThread& me);
  SimThread* pickRunnable();
  void handOver(SimThread& me, SimThread& next);
  void runEvent(EventQueue::Event& event);
  void advanceRaised(Duration target);
  void advanceTo(Duration t);
  void fail(std::string description);
  std::string describeDeadlock() const;
  void threadMain(SimThread& t);

  VirtualClock clock_;
  EventQueue queue_;
  std::mt19937_64 random_;
  std::mutex batonMutex_;
  SimThread* current_ = nullptr;
  std::vector<std::unique_ptr<SimThread>> threads_;
  std::string failure_;
  void* previousThread_ = nullptr;
};

}  // namespace k52::nt

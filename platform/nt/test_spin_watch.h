// A scheduler for tests that watches for threads spinning on the clock: it
// passes every call on to the scheduler it wraps and notes, per thread, how
// long the thread kept reading the clock without blocking in between (a
// wait, a delay, a contended spin lock). A processor stall is a busy-wait
// of its own length and neither starts nor ends such a stretch; clock reads
// of events do not count.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/nt/scheduler.h"

namespace k52::nt {

class SpinWatch final : public Scheduler {
 public:
  explicit SpinWatch(std::unique_ptr<Scheduler> inner) : inner_(std::move(inner)) {}

  // The longest time any thread polled the clock without blocking.
  Duration longestSpin() const {
    std::lock_guard lock(mutex_);
    return longest_;
  }

  Duration now() const override { return inner_->now(); }
  EventId schedule(Duration delay, Action action, EventKind kind = EventKind::Dispatch) override {
    return inner_->schedule(delay, std::move(action), kind);
  }
  bool cancel(EventId id) override { return inner_->cancel(id); }
  std::uint64_t random() override { return inner_->random(); }
  void startThread(std::string name, Action body) override {
    inner_->startThread(std::move(name), std::move(body));
  }
  bool wait(const std::function<bool()>& ready, std::optional<Duration> deadline,
            std::string_view what) override {
    {
      std::lock_guard lock(mutex_);
      spinningSince_.erase(std::this_thread::get_id());
    }
    return inner_->wait(ready, deadline, what);
  }
  void notifyWaiters() override { inner_->notifyWaiters(); }
  void stall(Duration d) override { inner_->stall(d); }
  void poll() override {
    // An event runs on whichever thread gives up its turn: its reads are not
    // that thread's.
    if (!inEvent()) {
      std::lock_guard lock(mutex_);
      const Duration t = inner_->now();
      const auto [at, fresh] = spinningSince_.try_emplace(std::this_thread::get_id(), t);
      if (!fresh) longest_ = std::max(longest_, t - at->second);
    }
    inner_->poll();
  }
  bool runFor(Duration d) override { return inner_->runFor(d); }
  bool runUntil(const std::function<bool()>& done, Duration limit) override {
    return inner_->runUntil(done, limit);
  }
  bool runUntilIdle(Duration limit) override { return inner_->runUntilIdle(limit); }
  std::string failure() const override { return inner_->failure(); }
  void shutdown() override { inner_->shutdown(); }
  std::int64_t systemTimeAtStart() const override { return inner_->systemTimeAtStart(); }
  bool setTimeIncrement(ULONG increment) override {
    return inner_->setTimeIncrement(increment) && Scheduler::setTimeIncrement(increment);
  }

 private:
  std::unique_ptr<Scheduler> inner_;
  mutable std::mutex mutex_;
  std::map<std::thread::id, Duration> spinningSince_;
  Duration longest_{0};
};

}  // namespace k52::nt

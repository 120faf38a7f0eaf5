// Runs the keyboard hardware models on the kernel model's scheduler: their
// steps become Device events, so they go on while drivers stall or poll.
#pragma once

#include "platform/nt/scheduler.h"
#include "sim/kbd8042/timeline.h"

namespace k52::sim {

class SchedulerTimeline final : public Timeline {
 public:
  explicit SchedulerTimeline(nt::Scheduler& scheduler) : scheduler_(scheduler) {}

  Duration now() const override { return scheduler_.now(); }
  void schedule(Duration delay, std::function<void()> action) override {
    scheduler_.schedule(delay, std::move(action), nt::EventKind::Device);
  }

 private:
  nt::Scheduler& scheduler_;
};

}  // namespace k52::sim

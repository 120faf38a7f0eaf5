// A single-threaded Timeline that runs only when told to. Actions due at the
// same moment run in the order they were scheduled, so every run is the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <queue>
#include <vector>

#include "sim/kbd8042/timeline.h"

namespace k52::sim {

class QueueTimeline final : public Timeline {
 public:
  Duration now() const override { return now_; }
  void schedule(Duration delay, std::function<void()> action) override;

  // Runs every action due within `d` from now, then moves time to the end of
  // that span. Returns the number of actions run.
  std::size_t runFor(Duration d);

  // Runs actions until none is left or `maxActions` have run, whichever comes
  // first; the limit keeps a model that keeps rescheduling from hanging a test.
  std::size_t runUntilIdle(std::size_t maxActions = 1'000'000);

  std::size_t pending() const { return queue_.size(); }
  // When the earliest pending action is due; nullopt when none is pending.
  std::optional<Duration> nextDue() const {
    if (queue_.empty()) return std::nullopt;
    return queue_.top().due;
  }

 private:
  struct Entry {
    Duration due;
    std::uint64_t sequence;
    std::function<void()> action;
  };
  struct Later {
    bool operator()(const Entry& a, const Entry& b) const {
      return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
    }
  };

  void runNext();

  Duration now_{0};
  std::uint64_t nextSequence_ = 0;
  std::priority_queue<Entry, std::vector<Entry>, Later> queue_;
};

}  // namespace k52::sim

#include "sim/kbd8042/queue_timeline.h"

#include <utility>

namespace k52::sim {

void QueueTimeline::schedule(Duration delay, std::function<void()> action) {
  if (delay < Duration::zero()) delay = Duration::zero();
  queue_.push(Entry{now_ + delay, nextSequence_++, std::move(action)});
}

std::size_t QueueTimeline::runFor(Duration d) {
  const Duration end = now_ + d;
  std::size_t ran = 0;
  while (!queue_.empty() && queue_.top().due <= end) {
    runNext();
    ++ran;
  }
  now_ = end;
  return ran;
}

std::size_t QueueTimeline::runUntilIdle(std::size_t maxActions) {
  std::size_t ran = 0;
  while (!queue_.empty() && ran < maxActions) {
    runNext();
    ++ran;
  }
  return ran;
}

void QueueTimeline::runNext() {
  // priority_queue::top() is const; the entry is popped before it runs so the
  // action can schedule more without disturbing the heap under it.
  Entry entry = std::move(const_cast<Entry&>(queue_.top()));
  queue_.pop();
  now_ = entry.due;
  entry.action();
}

}  // namespace k52::sim

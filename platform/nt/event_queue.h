// The pending events of a scheduler, ordered by (due time, sequence number)
// so that events due together run in the order they were scheduled. Not
// thread-safe: the owning scheduler locks around it.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>

#include "platform/nt/scheduler.h"

namespace k52::nt {

class EventQueue {
 public:
  struct Event {
    EventId id;
    Duration due;
    EventKind kind;
    Action action;
  };

  EventId push(Duration due, EventKind kind, Action action);
  bool cancel(EventId id);

  bool empty() const { return events_.empty(); }
  std::size_t size() const { return events_.size(); }

  // The due time of the earliest event, of `kind` when given.
  std::optional<Duration> nextDue(std::optional<EventKind> kind = std::nullopt) const;

  // Removes and returns the earliest event due at or before `limit`, of
  // `kind` when given.
  std::optional<Event> popDue(Duration limit, std::optional<EventKind> kind = std::nullopt);

  // The id of the only event left, if exactly one is left.
  std::optional<EventId> soleEvent() const;

  void clear();

 private:
  using Key = std::pair<Duration, EventId>;
  std::map<Key, Event> events_;
  std::unordered_map<EventId, Duration> dueById_;
  EventId nextId_ = 1;
};

}  // namespace k52::nt

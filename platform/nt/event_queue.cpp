#include "platform/nt/event_queue.h"

namespace k52::nt {

EventId EventQueue::push(Duration due, EventKind kind, Action action) {
  const EventId id = nextId_++;
  events_.emplace(Key{due, id}, Event{id, due, kind, std::move(action)});
  dueById_.emplace(id, due);
  return id;
}

bool EventQueue::cancel(EventId id) {
  const auto it = dueById_.find(id);
  if (it == dueById_.end()) return false;
  events_.erase(Key{it->second, id});
  dueById_.erase(it);
  return true;
}

std::optional<Duration> EventQueue::nextDue(std::optional<EventKind> kind) const {
  for (const auto& [key, event] : events_) {
    if (!kind || event.kind == *kind) return key.first;
  }
  return std::nullopt;
}

std::optional<EventQueue::Event> EventQueue::popDue(Duration limit, std::optional<EventKind> kind) {
  for (auto it = events_.begin(); it != events_.end() && it->first.first <= limit; ++it) {
    if (kind && it->second.kind != *kind) continue;
    Event event = std::move(it->second);
    dueById_.erase(event.id);
    events_.erase(it);
    return event;
  }
  return std::nullopt;
}

std::optional<EventId> EventQueue::soleEvent() const {
  if (events_.size() != 1) return std::nullopt;
  return events_.begin()->first.second;
}

void EventQueue::clear() {
  events_.clear();
  dueById_.clear();
}

}  // namespace k52::nt

#include "platform/clock/clock.h"

#include <thread>
#include <utility>

namespace k52 {

Duration RealClock::now() const {
  return std::chrono::steady_clock::now() - start_;
}

void RealClock::sleepFor(Duration d) {
  std::this_thread::sleep_for(d);
}

RealClock& RealClock::instance() {
  static RealClock clock;
  return clock;
}

Duration VirtualClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

void VirtualClock::sleepFor(Duration d) {
  advance(d);
}

void VirtualClock::advance(Duration d) {
  Observer observer;
  Duration reached;
  {
    std::lock_guard lock(mutex_);
    if (d > Duration::zero()) now_ += d;
    reached = now_;
    observer = observer_;
  }
  if (observer) observer(reached);
}

void VirtualClock::setObserver(Observer observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

}  // namespace k52

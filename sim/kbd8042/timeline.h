// The only thing the keyboard-side device models need from whoever runs them:
// the current time and a way to act later.
#pragma once

#include <functional>

#include "platform/clock/clock.h"

namespace k52::sim {

class Timeline {
 public:
  virtual ~Timeline() = default;

  virtual Duration now() const = 0;

  // Runs `action` once `delay` has passed, in its own context: never inside
  // the call to schedule(), so a model may schedule while holding its state
  // half-updated.
  virtual void schedule(Duration delay, std::function<void()> action) = 0;
};

}  // namespace k52::sim

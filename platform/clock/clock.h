// The one time source of k52kit.
//
// Every sleep, wait, time-out and tick count in the drivers, libraries and
// servers goes through a Clock. Production code runs on the real clock; tests
// run the same code on a VirtualClock, where a sleep moves time on at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

namespace k52 {

using Duration = std::chrono::nanoseconds;

class Clock {
 public:
  virtual ~Clock() = default;

  // Monotonic time since this clock's start.
  virtual Duration now() const = 0;

  // Blocks the caller for `d` of this clock's time.
  virtual void sleepFor(Duration d) = 0;

  // Milliseconds since the clock's start, wrapping at 2^32 like the
  // platform's tick count.
  std::uint32_t tickCountMs() const {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now()).count());
  }
};

// The system's steady clock and real sleeps.
class RealClock final : public Clock {
 public:
  Duration now() const override;
  void sleepFor(Duration d) override;

  // The process-wide real clock.
  static RealClock& instance();

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Deterministic time for tests: sleeping advances the clock by the sleep's
// length and returns at once. Observers see every advance, so a simulated
// device can act at the moment it is due.
class VirtualClock final : public Clock {
 public:
  using Observer = std::function<void(Duration now)>;

  Duration now() const override;
  void sleepFor(Duration d) override;

  // Moves time forward without anyone sleeping.
  void advance(Duration d);

  // Called after every advance with the new time.
  void setObserver(Observer observer);

 private:
  mutable std::mutex mutex_;
  Duration now_{0};
  Observer observer_;
};

}  // namespace k52

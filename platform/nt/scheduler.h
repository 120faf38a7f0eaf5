// The scheduler under the kernel model: time, events, threads and waits.
//
// Two implementations share this interface and the code above it does not
// know which one it runs on:
//   VirtualScheduler  deterministic simulation on a virtual clock, for tests;
//   RealScheduler     the system clock and real threads, for pcscd.
//
// Contexts. Code runs either in a thread (started with startThread(), or the
// thread that created a VirtualScheduler) or in an event (a scheduled action:
// a DPC, a timer expiry, a device model step, an interrupt). Events run one at
// a time at DISPATCH_LEVEL, never inside the call that scheduled them, and may
// not block.
//
// Time is a Duration since the scheduler's start.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/clock/clock.h"
#include "platform/nt/types.h"

namespace k52::nt {

using Action = std::function<void()>;

// Identifies a scheduled event for cancel(); 0 is never used.
using EventId = std::uint64_t;

enum class EventKind {
  // Runs only while the processor is at PASSIVE_LEVEL: DPCs, timer expiries,
  // interrupts that call into drivers, everything that touches driver state.
  Dispatch,
  // A step of a device model (a byte crossing a line, a status bit changing).
  // Like hardware, it also progresses while code at DISPATCH_LEVEL stalls or
  // polls, so it must only touch device-model state and never call a driver
  // directly: to reach a driver it schedules a Dispatch event or interrupt().
  Device,
};

// The simulation failed: a deadlock, an exception escaping a thread or an
// event, or a blocking call where none is allowed. Carries a description.
class SimulationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Thrown into a thread to end it (PsTerminateSystemThread, scheduler
// shutdown). Never catch it: the thread's start routine lets it through.
struct ThreadExit {};

// Clock ticks in 100 ns units. NT runs its clock at 15.625 ms unless a
// program asks for a finer timer resolution, down to 1 ms; the machine we
// model has asked, so that the drivers' millisecond waits last about what
// they say instead of a whole 15.625 ms tick each.
inline constexpr ULONG kFinestTimeIncrement = 10'000;     // 1 ms
inline constexpr ULONG kCoarsestTimeIncrement = 156'250;  // 15.625 ms
inline constexpr ULONG kDefaultTimeIncrement = kFinestTimeIncrement;

class Scheduler {
 public:
  Scheduler() : timeIncrement_(kDefaultTimeIncrement) {}
  virtual ~Scheduler() = default;

  // --- time and events (what device models use) ---

  virtual Duration now() const = 0;

  // Runs `action` once `delay` (negative counts as zero) has passed, as an
  // event. Events due at the same time run in the order they were scheduled.
  // Returns the id to cancel it with.
  virtual EventId schedule(Duration delay, Action action, EventKind kind = EventKind::Dispatch) = 0;

  // Removes a scheduled event; false when it already ran or was cancelled.
  virtual bool cancel(EventId id) = 0;

  // Delivers an interrupt: `action` runs as soon as possible as a Dispatch
  // event, after the caller returns.
  EventId interrupt(Action action) { return schedule(Duration::zero(), std::move(action)); }

  // The seeded random source (virtual) or a nondeterministic one (real).
  virtual std::uint64_t random() = 0;

  // --- threads and waits (what the Ke layer uses) ---

  // Starts `body` as a new thread. It runs at PASSIVE_LEVEL; a SimulationError
  // or other exception escaping it fails the simulation (virtual) or
  // terminates the process (real).
  virtual void startThread(std::string name, Action body) = 0;

  // Blocks the calling thread until `ready()` returns true or `deadline`
  // (absolute scheduler time; nullopt = none) passes. `ready` may take the
  // Ke layer's locks (never hold one of them around notifyWaiters()); it must
  // consume what it waited for when it returns true (an auto-reset event),
  // because it is called exactly once with a true result. Returns true when
  // ready, false on time-out. `what` names the wait in deadlock reports.
  // In an event, only a wait that is ready at once or whose deadline is
  // already due is allowed; anything else throws SimulationError.
  virtual bool wait(const std::function<bool()>& ready, std::optional<Duration> deadline,
                    std::string_view what) = 0;

  // Tells waiters that state a `ready` may test has changed. Call it after
  // the change, with no lock held that a `ready` takes.
  virtual void notifyWaiters() = 0;

  // Busy-waits `d`. At PASSIVE_LEVEL in a thread other threads and events run
  // meanwhile; at DISPATCH_LEVEL (in an event, or holding a spin lock) only
  // Device events do, as on a single processor.
  virtual void stall(Duration d) = 0;

  // Called on every read of the tick count or system time: lets time move on
  // for code that polls the clock without blocking (virtual: to the next due
  // event, or to the next tick when none is due; real: nothing).
  virtual void poll() = 0;

  // The IRQL of the running code: DISPATCH_LEVEL in events, else what the
  // thread raised to.
  static KIRQL currentIrql();
  static void setCurrentIrql(KIRQL irql);
  static bool inEvent();

  // --- running a test (virtual: moves the simulation; real: waits) ---

  // Lets `d` pass. False when the simulation failed (see failure()).
  virtual bool runFor(Duration d) = 0;

  // Runs until `done()` (checked after every event and thread switch)
  // returns true; false when `limit` passes first, when nothing is left that
  // could make it true, or when the simulation failed.
  virtual bool runUntil(const std::function<bool()>& done, Duration limit) = 0;

  // Runs until no thread can run and no event is left; false when `limit`
  // passes first (a periodic timer never lets it go idle) or on failure.
  virtual bool runUntilIdle(Duration limit) = 0;

  // Why the simulation stopped (deadlock, exception), empty while healthy.
  virtual std::string failure() const = 0;

  // Ends the threads (virtual: unwinds each where it blocks with ThreadExit;
  // real: joins them) and drops pending events. Called on the thread that
  // created the scheduler (virtual) or any thread not started by it (real);
  // the destructor calls it too.
  virtual void shutdown() = 0;

  // System time (100 ns units since 1601) at the scheduler's start.
  virtual std::int64_t systemTimeAtStart() const = 0;

  // --- the clock tick ---

  // The tick the tick count counts, in 100 ns units, as KeQueryTimeIncrement
  // reports it: kDefaultTimeIncrement unless the machine is set otherwise
  // (see Kernel). Set it before drivers load: they read it once.
  ULONG timeIncrement() const { return timeIncrement_.load(std::memory_order_relaxed); }
  Duration tickLength() const { return std::chrono::nanoseconds(timeIncrement() * 100LL); }
  // Takes values from kFinestTimeIncrement to kCoarsestTimeIncrement;
  // false (and no change) for any other. A scheduler that wraps another
  // passes it on.
  virtual bool setTimeIncrement(ULONG increment);

 protected:
  // Runs one event's action in event context at DISPATCH_LEVEL.
  static void runInEventContext(const Action& action);

 private:
  std::atomic<ULONG> timeIncrement_;
};

}  // namespace k52::nt

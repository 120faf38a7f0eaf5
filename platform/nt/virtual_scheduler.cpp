#include "platform/nt/virtual_scheduler.h"

#include <algorithm>
#include <exception>
#include <sstream>

namespace k52::nt {

struct VirtualScheduler::SimThread {
  enum class State { Ready, Running, Blocked, Done };

  VirtualScheduler* owner = nullptr;
  std::size_t id = 0;
  std::string name;
  Action body;
  State state = State::Ready;
  // While blocked: what ends the wait.
  const std::function<bool()>* ready = nullptr;
  EventId timeoutEvent = 0;
  bool timedOut = false;
  bool wakeOnIdle = false;
  Wake wake = Wake::Ready;
  std::string what;
  // Set by the destructor: the thread unwinds with ThreadExit.
  bool exit = false;
  std::condition_variable turn;
  std::thread os;
};

namespace {

thread_local void* tlsSimThread = nullptr;

// 2024-01-01 00:00 UTC in 100 ns units since 1601: a fixed start keeps
// absolute timer due times reproducible.
constexpr std::int64_t kSimulatedBootTime = 133485408000000000;

}  // namespace

VirtualScheduler::VirtualScheduler(std::uint64_t seed) : random_(seed) {
  auto main = std::make_unique<SimThread>();
  main->owner = this;
  main->name = "main";
  main->state = SimThread::State::Running;
  current_ = main.get();
  previousThread_ = tlsSimThread;
  tlsSimThread = main.get();
  threads_.push_back(std::move(main));
}

VirtualScheduler::~VirtualScheduler() {
  shutdown();
  // A scheduler made and dropped while another runs on this thread must not
  // take the other's thread away.
  if (tlsSimThread == threads_.front().get()) tlsSimThread = previousThread_;
}

void VirtualScheduler::shutdown() {
  // Unwind parked threads one at a time so that their destructors never run
  // concurrently with each other.
  for (std::size_t i = 1; i < threads_.size(); ++i) {
    SimThread& t = *threads_[i];
    {
      std::lock_guard lock(batonMutex_);
      t.exit = true;
    }
    t.turn.notify_one();
    if (t.os.joinable()) t.os.join();
  }
  queue_.clear();
}

EventId VirtualScheduler::schedule(Duration delay, Action action, EventKind kind) {
  return queue_.push(now() + std::max(delay, Duration::zero()), kind, std::move(action));
}

bool VirtualScheduler::cancel(EventId id) {
  return queue_.cancel(id);
}

std::int64_t VirtualScheduler::systemTimeAtStart() const {
  return kSimulatedBootTime;
}

VirtualScheduler::SimThread& VirtualScheduler::self() {
  auto* t = static_cast<SimThread*>(tlsSimThread);
  if (t == nullptr || t->owner != this) {
    throw SimulationError("a thread the simulation does not know called a blocking service");
  }
  return *t;
}

void VirtualScheduler::startThread(std::string name, Action body) {
  auto t = std::make_unique<SimThread>();
  t->owner = this;
  t->id = threads_.size();
  t->name = std::move(name);
  t->body = std::move(body);
  SimThread& ref = *t;
  threads_.push_back(std::move(t));
  ref.os = std::thread([this, &ref] { threadMain(ref); });
}

void VirtualScheduler::threadMain(SimThread& t) {
  tlsSimThread = &t;
  {
    std::unique_lock lock(batonMutex_);
    t.turn.wait(lock, [&] { return current_ == &t || t.exit; });
    if (t.exit) return;
  }
  try {
    t.body();
  } catch (const ThreadExit&) {
  } catch (const std::exception& e) {
    fail("thread '" + t.name + "' ended with an exception: " + e.what());
  } catch (...) {
    fail("thread '" + t.name + "' ended with an exception");
  }
  t.state = SimThread::State::Done;
  if (t.exit) return;
  reschedule(t);
}

bool VirtualScheduler::wait(const std::function<bool()>& ready, std::optional<Duration> deadline,
                            std::string_view what) {
  if (ready()) return true;
  if (deadline && *deadline <= now()) return false;
  if (inEvent()) {
    const std::string description = "blocking wait in an event: " + std::string(what);
    fail(description);
    throw SimulationError(description);
  }
  switch (block(self(), &ready, deadline, what, false)) {
    case Wake::Ready:
      return true;
    case Wake::TimedOut:
    case Wake::Idle:
      return false;
    case Wake::Failed:
      break;
  }
  throw SimulationError(failure_);
}

VirtualScheduler::Wake VirtualScheduler::block(SimThread& me, const std::function<bool()>* ready,
                                               std::optional<Duration> deadline,
                                               std::string_view what, bool wakeOnIdle) {
  if (me.exit) throw ThreadExit{};
  if (!failure_.empty()) return Wake::Failed;
  me.state = SimThread::State::Blocked;
  me.ready = ready;
  me.timedOut = false;
  me.wakeOnIdle = wakeOnIdle;
  me.what = what;
  me.timeoutEvent = 0;
  if (deadline) {
    SimThread* t = &me;
    me.timeoutEvent = queue_.push(*deadline, EventKind::Dispatch, [t] { t->timedOut = true; });
  }
  reschedule(me);
  me.ready = nullptr;
  me.wakeOnIdle = false;
  if (me.timeoutEvent != 0) queue_.cancel(me.timeoutEvent);
  me.timeoutEvent = 0;
  return me.wake;
}

void VirtualScheduler::reschedule(SimThread& me) {
  for (;;) {
    if (!failure_.empty()) {
      SimThread& main = *threads_.front();
      main.wake = Wake::Failed;
      handOver(me, main);
      return;
    }
    if (SimThread* next = pickRunnable()) {
      handOver(me, *next);
      return;
    }
    if (auto event = queue_.popDue(Duration::max())) {
      runEvent(*event);
      continue;
    }
    fail(describeDeadlock());
  }
}

VirtualScheduler::SimThread* VirtualScheduler::pickRunnable() {
  for (const auto& t : threads_) {
    if (t->state == SimThread::State::Ready) return t.get();
    if (t->state != SimThread::State::Blocked) continue;
    bool satisfied = false;
    try {
      satisfied = t->ready != nullptr && (*t->ready)();
    } catch (const std::exception& e) {
      fail("a wait condition of thread '" + t->name + "' threw: " + e.what());
      return nullptr;
    }
    if (satisfied) {
      t->wake = Wake::Ready;
      return t.get();
    }
    if (t->timedOut) {
      t->wake = Wake::TimedOut;
      return t.get();
    }
  }
  // Idle: nothing can run and the only event left is an idle waiter's own
  // time-out.
  for (const auto& t : threads_) {
    if (t->state != SimThread::State::Blocked || !t->wakeOnIdle) continue;
    if (queue_.empty() || queue_.soleEvent() == t->timeoutEvent) {
      t->wake = Wake::Idle;
      return t.get();
    }
  }
  return nullptr;
}

void VirtualScheduler::handOver(SimThread& me, SimThread& next) {
  next.state = SimThread::State::Running;
  if (&next == &me) return;
  {
    std::lock_guard lock(batonMutex_);
    current_ = &next;
  }
  next.turn.notify_one();
  if (me.state == SimThread::State::Done) return;
  std::unique_lock lock(batonMutex_);
  me.turn.wait(lock, [&] { return current_ == &me || me.exit; });
  if (current_ != &me) throw ThreadExit{};
}

void VirtualScheduler::runEvent(EventQueue::Event& event) {
  advanceTo(event.due);
  try {
    runInEventContext(event.action);
  } catch (const std::exception& e) {
    fail(std::string("an event threw: ") + e.what());
  } catch (...) {
    fail("an event threw");
  }
}

void VirtualScheduler::advanceTo(Duration t) {
  if (t > now()) clock_.advance(t - now());
}

void VirtualScheduler::advanceRaised(Duration target) {
  while (auto event = queue_.popDue(target, EventKind::Device)) runEvent(*event);
  advanceTo(target);
}

void VirtualScheduler::stall(Duration d) {
  const Duration target = now() + std::max(d, Duration::zero());
  if (inEvent() || currentIrql() >= DISPATCH_LEVEL) {
    advanceRaised(target);
    return;
  }
  if (block(self(), nullptr, target, "KeStallExecutionProcessor", false) == Wake::Failed) {
    throw SimulationError(failure_);
  }
}

void VirtualScheduler::poll() {
  const Duration tick = tickLength();
  const Duration nextTick = (now() / tick + 1) * tick;
  if (inEvent() || currentIrql() >= DISPATCH_LEVEL) {
    advanceRaised(std::min(nextTick, queue_.nextDue(EventKind::Device).value_or(nextTick)));
    return;
  }
  const Duration target = std::min(nextTick, queue_.nextDue().value_or(nextTick));
  if (block(self(), nullptr, target, "polling the clock", false) == Wake::Failed) {
    throw SimulationError(failure_);
  }
}

bool VirtualScheduler::runFor(Duration d) {
  return block(self(), nullptr, now() + std::max(d, Duration::zero()), "runFor", false) !=
         Wake::Failed;
}

bool VirtualScheduler::runUntil(const std::function<bool()>& done, Duration limit) {
  if (!failure_.empty()) return false;
  if (done()) return true;
  return block(self(), &done, now() + std::max(limit, Duration::zero()), "runUntil", true) ==
         Wake::Ready;
}

bool VirtualScheduler::runUntilIdle(Duration limit) {
  return block(self(), nullptr, now() + std::max(limit, Duration::zero()), "runUntilIdle", true) ==
         Wake::Idle;
}

void VirtualScheduler::fail(std::string description) {
  if (failure_.empty()) failure_ = std::move(description);
}

std::string VirtualScheduler::describeDeadlock() const {
  std::ostringstream out;
  out << "deadlock at " << std::chrono::duration_cast<std::chrono::microseconds>(now()).count()
      << " us: no thread can run and no event is pending;";
  for (const auto& t : threads_) {
    if (t->state == SimThread::State::Blocked)
      out << " thread '" << t->name << "' waits in " << t->what << ";";
  }
  return out.str();
}

}  // namespace k52::nt

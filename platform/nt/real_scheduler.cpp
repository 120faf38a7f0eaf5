#include "platform/nt/real_scheduler.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace k52::nt {

namespace {

// 100 ns units between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kUnixEpochInSystemTime = 116444736000000000;

// How long a clock read waits at most for the devices to catch up: far
// beyond any lag of a busy host, short enough that a wedged event shows as
// slowness rather than a hang.
constexpr Duration kCatchUpLimit = std::chrono::milliseconds(500);

// The end of a processor stall that is spun rather than slept.
constexpr Duration kStallSpin = std::chrono::microseconds(200);

constexpr int kSystemThreadNice = -10;

std::int64_t systemTimeNow() {
  const auto sinceUnix = std::chrono::system_clock::now().time_since_epoch();
  return kUnixEpochInSystemTime +
         std::chrono::duration_cast<std::chrono::nanoseconds>(sinceUnix).count() / 100;
}

}  // namespace

void runAsSystemThread() {
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kSystemThreadNice);
}

RealScheduler::RealScheduler()
    : systemTimeAtStart_(systemTimeNow()), random_(std::random_device{}()) {
  worker_ = std::thread([this] {
    runAsSystemThread();
    workerMain();
  });
}

RealScheduler::~RealScheduler() {
  shutdown();
}

void RealScheduler::shutdown() {
  {
    std::lock_guard lock(eventsMutex_);
    stop_ = true;
  }
  eventsChanged_.notify_all();
  if (worker_.joinable()) worker_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(threadsMutex_);
    threads.swap(threads_);
  }
  for (auto& t : threads) t.join();
  std::lock_guard lock(eventsMutex_);
  queue_.clear();
}

EventId RealScheduler::schedule(Duration delay, Action action, EventKind kind) {
  EventId id;
  {
    std::lock_guard lock(eventsMutex_);
    id = queue_.push(now() + std::max(delay, Duration::zero()), kind, std::move(action));
  }
  eventsChanged_.notify_all();
  return id;
}

bool RealScheduler::cancel(EventId id) {
  std::lock_guard lock(eventsMutex_);
  return queue_.cancel(id);
}

std::uint64_t RealScheduler::random() {
  std::lock_guard lock(randomMutex_);
  return random_();
}

void RealScheduler::workerMain() {
  std::unique_lock lock(eventsMutex_);
  while (!stop_) {
    auto event = queue_.popDue(now());
    if (!event) {
      const auto next = queue_.nextDue();
      if (next) {
        eventsChanged_.wait_for(lock, *next - now());
      } else {
        eventsChanged_.wait(lock);
      }
      continue;
    }
    running_ = true;
    lock.unlock();
    runInEventContext(event->action);
    lock.lock();
    running_ = false;
    ++eventsRun_;
    eventsChanged_.notify_all();
  }
}

void RealScheduler::catchUp(Duration t) {
  if (inEvent() || currentIrql() >= DISPATCH_LEVEL) return;
  std::unique_lock lock(eventsMutex_);
  const auto caughtUp = [&] {
    const auto next = queue_.nextDue();
    return stop_ || (!running_ && (!next || *next > t));
  };
  if (caughtUp()) return;
  // The worker may sleep past the event's time on a loaded host: wake it.
  eventsChanged_.notify_all();
  eventsChanged_.wait_for(lock, kCatchUpLimit, caughtUp);
}

void RealScheduler::poll() {
  if (inEvent() || currentIrql() >= DISPATCH_LEVEL) {
    // Spinning at raised IRQL: at least let the host's other threads in.
    std::this_thread::yield();
    return;
  }
  catchUp(now());
  // As on the virtual clock, a read moves on to the next tick or to the next
  // event, whichever comes first: the tick count cannot change before that,
  // and an event is what could end the poller's loop sooner. So a driver
  // that spins on the tick count sleeps instead of burning a core.
  const Duration tick = tickLength();
  const Duration nextTick = (now() / tick + 1) * tick;
  std::unique_lock lock(eventsMutex_);
  const std::uint64_t seen = eventsRun_;
  const auto next = queue_.nextDue();
  const Duration until = next ? std::min(nextTick, *next) : nextTick;
  eventsChanged_.wait_for(lock, until - now(), [&] { return stop_ || eventsRun_ != seen; });
}

void RealScheduler::startThread(std::string, Action body) {
  std::lock_guard lock(threadsMutex_);
  threads_.emplace_back([body = std::move(body)] {
    runAsSystemThread();
    try {
      body();
    } catch (const ThreadExit&) {
    }
  });
}

bool RealScheduler::wait(const std::function<bool()>& ready, std::optional<Duration> deadline,
                         std::string_view) {
  std::unique_lock lock(waitMutex_);
  for (;;) {
    if (ready()) return true;
    if (!deadline) {
      waitersChanged_.wait(lock);
      continue;
    }
    const Duration left = *deadline - now();
    if (left <= Duration::zero()) {
      // What was due by the deadline counts: let it happen, then look again.
      lock.unlock();
      catchUp(*deadline);
      lock.lock();
      return ready();
    }
    waitersChanged_.wait_for(lock, left);
  }
}

void RealScheduler::notifyWaiters() {
  std::lock_guard lock(waitMutex_);
  waitersChanged_.notify_all();
}

void RealScheduler::stall(Duration d) {
  // The processor waits and nothing else happens in its thread, so most of
  // it may be slept; the last stretch spins, as the host wakes a sleeper
  // late, and the stall must not end early.
  const Duration end = now() + d;
  if (d > kStallSpin) clock_.sleepFor(d - kStallSpin);
  while (now() < end) std::this_thread::yield();
}

bool RealScheduler::runFor(Duration d) {
  clock_.sleepFor(d);
  return true;
}

bool RealScheduler::runUntil(const std::function<bool()>& done, Duration limit) {
  const Duration end = now() + limit;
  for (;;) {
    if (done()) return true;
    if (now() >= end) return false;
    clock_.sleepFor(std::chrono::milliseconds(1));
  }
}

bool RealScheduler::runUntilIdle(Duration limit) {
  std::unique_lock lock(eventsMutex_);
  return eventsChanged_.wait_for(lock, limit, [&] { return queue_.empty() && !running_; });
}

}  // namespace k52::nt

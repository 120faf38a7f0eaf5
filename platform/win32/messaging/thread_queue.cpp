#include "platform/win32/messaging/thread_queue.h"

#include <algorithm>
#include <chrono>

namespace k52::win32 {
namespace {

// How long an idle thread on the virtual clock listens for messages in flight
// from other threads before it moves time on to its next timer.
constexpr auto kVirtualGrace = std::chrono::milliseconds(2);

bool jumpsIdleTime(Clock& clock) {
  return dynamic_cast<VirtualClock*>(&clock) != nullptr;
}

}  // namespace

bool MessageFilter::matches(HWND h, UINT message) const {
  if (hwnd != 0 && h != hwnd) return false;
  if (min == 0 && max == 0) return true;
  return message >= min && message <= max;
}

MSG ThreadQueue::stamp(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) const {
  MSG msg;
  msg.hwnd = hwnd;
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = clock_.tickCountMs();
  return msg;
}

void ThreadQueue::post(const MSG& msg) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(msg);
    posted_.back().time = clock_.tickCountMs();
  }
  changed_.notify_all();
}

void ThreadQueue::postQuit(int exitCode) {
  {
    std::lock_guard lock(mutex_);
    quit_ = exitCode;
  }
  changed_.notify_all();
}

void ThreadQueue::pushSend(IncomingSend send) {
  {
    std::lock_guard lock(mutex_);
    sends_.push_back(std::move(send));
  }
  changed_.notify_all();
}

std::optional<IncomingSend> ThreadQueue::takeSend() {
  std::lock_guard lock(mutex_);
  if (sends_.empty()) return std::nullopt;
  IncomingSend send = std::move(sends_.front());
  sends_.pop_front();
  return send;
}

const ThreadQueue::Timer* ThreadQueue::nextTimer(const MessageFilter& filter) const {
  const Timer* next = nullptr;
  for (const auto& t : timers_) {
    if (!filter.matches(t.hwnd, WM_TIMER)) continue;
    if (next == nullptr || t.due < next->due) next = &t;
  }
  return next;
}

std::optional<MSG> ThreadQueue::take(const MessageFilter& filter, bool remove) {
  std::lock_guard lock(mutex_);
  for (auto it = posted_.begin(); it != posted_.end(); ++it) {
    if (!filter.matches(it->hwnd, it->message)) continue;
    MSG msg = *it;
    if (remove) posted_.erase(it);
    return msg;
  }
  if (quit_ && filter.hwnd == 0) {
    MSG msg = stamp(0, WM_QUIT, static_cast<WPARAM>(*quit_), 0);
    if (remove) quit_.reset();
    return msg;
  }
  const Duration now = clock_.now();
  if (auto* t = const_cast<Timer*>(nextTimer(filter)); t != nullptr && t->due <= now) {
    // Like the platform's timers, a late timer fires once, not once per period.
    t->due = now + t->interval;
    return stamp(t->hwnd, WM_TIMER, t->id, reinterpret_cast<LPARAM>(t->proc));
  }
  return std::nullopt;
}

bool ThreadQueue::hasInput() const {
  std::lock_guard lock(mutex_);
  if (!posted_.empty() || !sends_.empty() || quit_) return true;
  const Timer* next = nextTimer(MessageFilter{});
  return next != nullptr && next->due <= clock_.now();
}

void ThreadQueue::wait(const MessageFilter& filter) {
  std::unique_lock lock(mutex_);
  auto busy = [&] { return !posted_.empty() || !sends_.empty() || quit_; };
  if (busy()) return;
  const Timer* next = nextTimer(filter);
  if (next == nullptr) {
    changed_.wait(lock, busy);
    return;
  }
  const Duration left = next->due - clock_.now();
  if (left <= Duration::zero()) return;
  if (!jumpsIdleTime(clock_)) {
    changed_.wait_for(lock, left, busy);
    return;
  }
  if (changed_.wait_for(lock, kVirtualGrace, busy)) return;
  lock.unlock();
  clock_.sleepFor(left);
}

void ThreadQueue::setTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  {
    std::lock_guard lock(mutex_);
    const Duration interval = std::chrono::milliseconds(std::max<UINT>(elapseMs, 1));
    const Duration due = clock_.now() + interval;
    auto it = std::find_if(timers_.begin(), timers_.end(),
                           [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it != timers_.end()) {
      *it = Timer{hwnd, id, interval, due, proc};
    } else {
      timers_.push_back(Timer{hwnd, id, interval, due, proc});
    }
  }
  changed_.notify_all();
}

bool ThreadQueue::killTimer(HWND hwnd, UINT_PTR id) {
  std::lock_guard lock(mutex_);
  return std::erase_if(timers_, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; }) > 0;
}

void ThreadQueue::forget(HWND hwnd) {
  std::lock_guard lock(mutex_);
  std::erase_if(timers_, [&](const Timer& t) { return t.hwnd == hwnd; });
  std::erase_if(posted_, [&](const MSG& m) { return m.hwnd == hwnd; });
}

}  // namespace k52::win32

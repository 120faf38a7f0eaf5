// The message queue of one thread: posted messages, messages sent from other
// threads that wait for their result, timers and the quit request.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/win32/messaging/types.h"
#include "platform/win32/messaging/wire.h"

namespace k52::win32 {

// A message sent from another thread; the result goes back on `replyFd`.
struct IncomingSend {
  wire::Frame frame;
  int replyFd = -1;
};

struct MessageFilter {
  HWND hwnd = 0;
  UINT min = 0;
  UINT max = 0;
  bool matches(HWND h, UINT message) const;
};

class ThreadQueue {
 public:
  explicit ThreadQueue(Clock& clock) : clock_(clock) {}

  void post(const MSG& msg);
  void postQuit(int exitCode);
  void pushSend(IncomingSend send);
  std::optional<IncomingSend> takeSend();

  // The next message by the order GetMessage keeps (sent messages aside).
  std::optional<MSG> take(const MessageFilter& filter, bool remove);
  // Whether a post, a send, the quit request or a due timer is there, without
  // taking or restarting anything (MsgWaitForMultipleObjects).
  bool hasInput() const;
  // Waits until something may be there: a post, a send, a due timer. On a
  // VirtualClock an idle wait for a timer moves the clock on.
  void wait(const MessageFilter& filter);

  void setTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
  bool killTimer(HWND hwnd, UINT_PTR id);
  // Drops a destroyed window's timers and posted messages.
  void forget(HWND hwnd);

 private:
  struct Timer {
    HWND hwnd;
    UINT_PTR id;
    Duration interval;
    Duration due;
    TIMERPROC proc;
  };
  const Timer* nextTimer(const MessageFilter& filter) const;
  MSG stamp(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) const;

  Clock& clock_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<MSG> posted_;
  std::deque<IncomingSend> sends_;
  std::vector<Timer> timers_;
  std::optional<int> quit_;
};

}  // namespace k52::win32

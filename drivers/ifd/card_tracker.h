// Card presence for pcscd, from varnel's own tracking: a thread keeps one
// IS_PRESENT or IS_ABSENT request waiting at the reader, so the reader's
// 1.1 s status polling is what notices a card coming or going. pcscd asks
// the state (present()) and waits for a change (waitForChange()).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "drivers/ifd/reader_host.h"

namespace k52::ifd {

class CardTracker {
 public:
  // Reads the state once, then starts the thread.
  explicit CardTracker(ReaderHost& host);
  // join() must have run.
  ~CardTracker();
  CardTracker(const CardTracker&) = delete;
  CardTracker& operator=(const CardTracker&) = delete;

  // The state as the last completed request left it; also what the next
  // waitForChange() compares against.
  bool present();
  // Returns when the state differs from what present() last reported, when
  // `timeout` passes, when wake() is called, or once tracking has ended.
  void waitForChange(std::chrono::milliseconds timeout);
  // Makes the waiting waitForChange() return, or the next one when none
  // waits. pcscd does this whenever it wants its polling thread to look
  // again (a card released, the reader going), not only at the end.
  void wake();
  // Waits for the thread, which ends once the host's handle is closed.
  void join();

 private:
  void run();
  bool readState();

  ReaderHost& host_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool present_ = false;
  bool reported_ = false;
  bool woken_ = false;
  bool ended_ = false;  // the reader is closed
  std::thread thread_;
};

}  // namespace k52::ifd

#include "drivers/ifd/card_tracker.h"

#include <cstring>

#include "platform/smclib/smclib.h"

namespace k52::ifd {
namespace {

// After a tracking request the reader refused, before the next one.
constexpr auto kRetryPause = std::chrono::milliseconds(200);

}  // namespace

CardTracker::CardTracker(ReaderHost& host) : host_(host) {
  readState();
  thread_ = std::thread([this] { run(); });
}

CardTracker::~CardTracker() = default;

// The reader's CurrentState; false when the reader is gone.
bool CardTracker::readState() {
  std::uint8_t out[4] = {};
  const auto reply = host_.control(nt::IOCTL_SMARTCARD_GET_STATE, {}, out);
  if (!nt::NT_SUCCESS(reply.status) || reply.bytes < sizeof(nt::ULONG)) return false;
  nt::ULONG state;
  std::memcpy(&state, out, sizeof state);
  std::lock_guard lock(mutex_);
  if (present_ != (state > nt::SCARD_ABSENT)) {
    present_ = !present_;
    changed_.notify_all();
  }
  return true;
}

void CardTracker::run() {
  for (;;) {
    bool present;
    {
      std::lock_guard lock(mutex_);
      present = present_;
    }
    const nt::NTSTATUS status = host_.waitForCard(!present);
    if (status == nt::STATUS_DEVICE_NOT_CONNECTED) break;
    // A completed request only says that something happened (a removal or
    // the handle's cleanup completes it too): the state says what.
    if (!readState()) break;
    if (!nt::NT_SUCCESS(status)) std::this_thread::sleep_for(kRetryPause);
  }
  std::lock_guard lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

bool CardTracker::present() {
  std::lock_guard lock(mutex_);
  reported_ = present_;
  return present_;
}

void CardTracker::waitForChange(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [this] { return ended_ || woken_ || present_ != reported_; });
  woken_ = false;
}

void CardTracker::wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  changed_.notify_all();
}

void CardTracker::join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace k52::ifd

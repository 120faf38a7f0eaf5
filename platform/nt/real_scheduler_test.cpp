// What the real scheduler promises on a busy host: a driver never sees the
// clock pass a moment without what the devices did by then.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/nt/ntddk.h"
#include "platform/nt/test_kernel.h"

namespace k52::nt {
namespace {

using namespace std::chrono_literals;

// A worker that has fallen behind: the first event holds it for 100 ms, the
// way a descheduled worker on a loaded machine would be late; the device's
// answer is due at 10 ms, long before the driver's 50 ms are up.
class LateWorker : public ::testing::Test {
 protected:
  LateWorker() : kernel_(std::make_unique<RealScheduler>()) {
    s().schedule(Duration::zero(), [] { std::this_thread::sleep_for(100ms); });
    s().schedule(
        10ms,
        [this] {
          answered_ = true;
          s().notifyWaiters();
        },
        EventKind::Device);
  }
  Scheduler& s() { return kernel_.scheduler(); }

  Kernel kernel_;
  std::atomic<bool> answered_{false};
};

TEST_F(LateWorker, AWaitThatTimesOutSeesWhatWasDueByItsDeadline) {
  EXPECT_TRUE(s().wait([this] { return answered_.load(); }, s().now() + 50ms, "the answer"));
}

TEST_F(LateWorker, AClockReadPastTheDueTimeSeesTheEvent) {
  const Duration start = s().now();
  LARGE_INTEGER ticks;
  do {
    KeQueryTickCount(&ticks);
  } while (ticks.QuadPart * KeQueryTimeIncrement() / 10'000 < (start + 50ms) / 1ms);
  EXPECT_TRUE(answered_);
}

}  // namespace
}  // namespace k52::nt

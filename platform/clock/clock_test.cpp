#include "platform/clock/clock.h"

#include <gtest/gtest.h>

#include <vector>

namespace k52 {
namespace {

using namespace std::chrono_literals;

TEST(VirtualClock, SleepAdvancesTimeAtOnceAndTellsTheObserver) {
  VirtualClock clock;
  std::vector<Duration> seen;
  clock.setObserver([&](Duration t) { seen.push_back(t); });
  clock.sleepFor(1500ms);
  clock.advance(500ms);
  EXPECT_EQ(clock.now(), 2s);
  EXPECT_EQ(clock.tickCountMs(), 2000u);
  EXPECT_EQ(seen, (std::vector<Duration>{1500ms, 2s}));
}

TEST(VirtualClock, TickCountWrapsLikeThePlatformCounter) {
  VirtualClock clock;
  clock.advance(std::chrono::milliseconds(0x100000005LL));
  EXPECT_EQ(clock.tickCountMs(), 5u);
}

TEST(RealClock, SleepTakesAtLeastItsLength) {
  auto& clock = RealClock::instance();
  const Duration before = clock.now();
  clock.sleepFor(2ms);
  EXPECT_GE(clock.now() - before, 2ms);
}

}  // namespace
}  // namespace k52

#include "sim/kbd8042/queue_timeline.h"

#include <gtest/gtest.h>

#include <string>

namespace k52::sim {
namespace {

using std::chrono::milliseconds;

TEST(QueueTimeline, RunsByTimeThenBySchedulingOrder) {
  QueueTimeline timeline;
  std::string log;
  timeline.schedule(milliseconds(2), [&] { log += 'c'; });
  timeline.schedule(milliseconds(1), [&] {
    log += 'a';
    // Scheduled later but due at the same moment as 'c': runs after it.
    timeline.schedule(milliseconds(1), [&] { log += 'd'; });
  });
  timeline.schedule(milliseconds(1), [&] { log += 'b'; });
  EXPECT_EQ(timeline.runUntilIdle(), 4u);
  EXPECT_EQ(log, "abcd");
  EXPECT_EQ(timeline.now(), milliseconds(2));
}

TEST(QueueTimeline, RunForStopsAtTheEndOfItsSpan) {
  QueueTimeline timeline;
  int ran = 0;
  timeline.schedule(milliseconds(5), [&] { ++ran; });
  timeline.schedule(milliseconds(6), [&] { ++ran; });
  EXPECT_EQ(timeline.nextDue(), milliseconds(5));
  EXPECT_EQ(timeline.runFor(milliseconds(5)), 1u);
  EXPECT_EQ(timeline.now(), milliseconds(5));
  EXPECT_EQ(timeline.pending(), 1u);
  EXPECT_EQ(timeline.nextDue(), milliseconds(6));
  timeline.runFor(milliseconds(1));
  EXPECT_EQ(ran, 2);
  EXPECT_EQ(timeline.nextDue(), std::nullopt);
}

}  // namespace
}  // namespace k52::sim

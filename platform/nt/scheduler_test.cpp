// What only the virtual scheduler promises: determinism, time that jumps,
// stalls and clock polls that let time move on, and reported deadlocks.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/nt/ntddk.h"
#include "platform/nt/test_kernel.h"

namespace k52::nt {
namespace {

using namespace std::chrono_literals;

struct TraceEntry {
  Duration at;
  std::string who;
  bool operator==(const TraceEntry&) const = default;
};

// Two threads and a device model acting after random delays.
std::vector<TraceEntry> simulate(std::uint64_t seed) {
  Kernel kernel(std::make_unique<VirtualScheduler>(seed));
  Scheduler& s = kernel.scheduler();
  std::vector<TraceEntry> trace;
  for (const char* name : {"a", "b"}) {
    s.startThread(name, [&s, &trace, name] {
      for (int i = 0; i < 5; ++i) {
        LARGE_INTEGER delay = relativeMs(static_cast<LONGLONG>(s.random() % 7));
        KeDelayExecutionThread(KernelMode, FALSE, &delay);
        trace.push_back({s.now(), name});
      }
    });
  }
  std::function<void()> device = [&] {
    trace.push_back({s.now(), "device"});
    if (trace.size() < 20) s.schedule(std::chrono::microseconds(s.random() % 5000), device);
  };
  s.schedule(1ms, device, EventKind::Device);
  EXPECT_TRUE(s.runFor(1s));
  return trace;
}

TEST(VirtualSchedulerTest, SameSeedGivesTheSameTrace) {
  const auto first = simulate(7);
  EXPECT_GE(first.size(), 20u);
  EXPECT_EQ(simulate(7), first);
  EXPECT_NE(simulate(8), first);
}

TEST(VirtualSchedulerTest, LongWaitTakesLittleRealTime) {
  Kernel kernel(std::make_unique<VirtualScheduler>(1));
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  const auto realStart = std::chrono::steady_clock::now();
  LARGE_INTEGER timeout = relativeMs(10'000);
  EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout), STATUS_TIMEOUT);
  EXPECT_EQ(kernel.scheduler().now(), 10s);
  EXPECT_LT(std::chrono::steady_clock::now() - realStart, 1s);
}

TEST(VirtualSchedulerTest, PollingTheTickCountReachesTheNextEventExactly) {
  Kernel kernel(std::make_unique<VirtualScheduler>(1));
  Scheduler& s = kernel.scheduler();
  bool arrived = false;
  s.schedule(
      40'123us, [&] { arrived = true; }, EventKind::Device);
  LARGE_INTEGER ticks;
  while (!arrived) KeQueryTickCount(&ticks);
  EXPECT_EQ(s.now(), 40'123us);
  // With nothing due, each read moves to the next tick.
  KeQueryTickCount(&ticks);
  KeQueryTickCount(&ticks);
  EXPECT_EQ(ticks.QuadPart, 40'123us / s.tickLength() + 2);
}

TEST(VirtualSchedulerTest, PassiveStallLetsEventsAndThreadsRunMeanwhile) {
  Kernel kernel(std::make_unique<VirtualScheduler>(1));
  Scheduler& s = kernel.scheduler();
  bool dpcRan = false;
  s.schedule(300us, [&] { dpcRan = true; });
  KeStallExecutionProcessor(1000);
  EXPECT_TRUE(dpcRan);
  EXPECT_EQ(s.now(), 1000us);
}

TEST(VirtualSchedulerTest, StallAtDispatchLevelRunsOnlyDeviceEvents) {
  Kernel kernel(std::make_unique<VirtualScheduler>(1));
  Scheduler& s = kernel.scheduler();
  std::vector<std::string> order;
  s.schedule(1ms, [&] {
    order.push_back("dpc-start");
    KeStallExecutionProcessor(5000);
    order.push_back("dpc-end@" + std::to_string(s.now() / 1us));
  });
  s.schedule(
      2ms, [&] { order.push_back("device@" + std::to_string(s.now() / 1us)); }, EventKind::Device);
  s.schedule(3ms, [&] { order.push_back("other-dpc@" + std::to_string(s.now() / 1us)); });
  ASSERT_TRUE(s.runFor(10ms));
  EXPECT_EQ(order, (std::vector<std::string>{"dpc-start", "device@2000", "dpc-end@6000",
                                             "other-dpc@6000"}));
}

TEST(VirtualSchedulerTest, TestThreadBusyWaitingOnDeviceEventSeesIt) {
  Kernel kernel(std::make_unique<VirtualScheduler>(1));
  Scheduler& s = kernel.scheduler();
  volatile bool ready = false;
  s.schedule(
      2500us, [&] { ready = true; }, EventKind::Device);
  int polls = 0;
  while (!ready) {
    KeStallExecutionProcessor(100);
    ++polls;
  }
  EXPECT_EQ(polls, 25);
}

TEST(VirtualSchedulerTest, WaitNobodyCanEndIsReportedAsDeadlock) {
  Kernel kernel(std::make_unique<VirtualScheduler>(1));
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  HANDLE handle;
  PsCreateSystemThread(
      &handle, 0, nullptr, nullptr, nullptr,
      [](PVOID context) { KeWaitForSingleObject(context, Executive, KernelMode, FALSE, nullptr); },
      &event);
  try {
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    FAIL() << "the wait returned";
  } catch (const SimulationError& e) {
    EXPECT_NE(std::string(e.what()).find("deadlock"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("system thread"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(kernel.scheduler().runFor(1s));
  EXPECT_FALSE(kernel.scheduler().failure().empty());
}

TEST(VirtualSchedulerTest, RunHelpersStopWhenNothingIsLeft) {
  Kernel kernel(std::make_unique<VirtualScheduler>(1));
  Scheduler& s = kernel.scheduler();
  int fired = 0;
  s.schedule(30ms, [&] { ++fired; });
  EXPECT_TRUE(s.runUntilIdle(1s));
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(s.now(), 30ms);
  EXPECT_FALSE(s.runUntil([&] { return fired == 2; }, 1h));
  EXPECT_EQ(s.now(), 30ms);
  EXPECT_TRUE(s.failure().empty());
}

TEST(VirtualSchedulerTest, PeriodicTimerNeverLetsItGoIdle) {
  Kernel kernel(std::make_unique<VirtualScheduler>(1));
  KTIMER timer;
  KeInitializeTimer(&timer);
  LARGE_INTEGER due = relativeMs(10);
  KeSetTimerEx(&timer, due, 10, nullptr);
  EXPECT_FALSE(kernel.scheduler().runUntilIdle(55ms));
  EXPECT_TRUE(KeReadStateTimer(&timer));
  KeCancelTimer(&timer);
  EXPECT_TRUE(kernel.scheduler().runUntilIdle(1s));
}

TEST(VirtualSchedulerTest, BlockingInAnEventFailsTheSimulation) {
  Kernel kernel(std::make_unique<VirtualScheduler>(1));
  Scheduler& s = kernel.scheduler();
  s.schedule(1ms, [&] { s.wait([] { return false; }, std::nullopt, "a wait in a DPC"); });
  EXPECT_FALSE(s.runFor(5ms));
  EXPECT_NE(s.failure().find("a wait in a DPC"), std::string::npos) << s.failure();
}

}  // namespace
}  // namespace k52::nt

// Ke behaviour on both schedulers: the same driver-visible semantics.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/nt/ntddk.h"
#include "platform/nt/test_kernel.h"
#include "platform/win32/test_temp_dir.h"

namespace k52::nt {
namespace {

using namespace std::chrono_literals;

class KeTest : public ::testing::TestWithParam<Clocking> {
 protected:
  KeTest() : kernel_(makeScheduler(GetParam())) {}
  Scheduler& s() { return kernel_.scheduler(); }
  Duration now() { return s().now(); }

  Kernel kernel_;
};

struct Signaller {
  KTIMER timer;
  KDPC dpc;
  KEVENT event;
  std::atomic<int> runs{0};
  static void onTimer(PKDPC, PVOID context, PVOID, PVOID) {
    auto* self = static_cast<Signaller*>(context);
    ++self->runs;
    KeSetEvent(&self->event, IO_NO_INCREMENT, FALSE);
  }
  Signaller(EVENT_TYPE type = NotificationEvent) {
    KeInitializeTimer(&timer);
    KeInitializeDpc(&dpc, onTimer, this);
    KeInitializeEvent(&event, type, FALSE);
  }
};

TEST_P(KeTest, WaitEndsWhenTimerDpcSignalsTheEvent) {
  Signaller signaller;
  const Duration start = now();
  KeSetTimer(&signaller.timer, relativeMs(30), &signaller.dpc);
  LARGE_INTEGER timeout = relativeMs(5000);
  EXPECT_EQ(KeWaitForSingleObject(&signaller.event, Executive, KernelMode, FALSE, &timeout),
            STATUS_SUCCESS);
  EXPECT_GE(now() - start, 30ms);
  EXPECT_LT(now() - start, 2s);
  EXPECT_EQ(KeReadStateEvent(&signaller.event), 1);
}

TEST_P(KeTest, WaitTimesOutOnAnEventNobodySets) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  const Duration start = now();
  LARGE_INTEGER timeout = relativeMs(20);
  EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout), STATUS_TIMEOUT);
  EXPECT_GE(now() - start, 20ms);
  LARGE_INTEGER zero{};
  EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
}

TEST_P(KeTest, SynchronizationEventReleasesOneWaitAndResets) {
  KEVENT event;
  KeInitializeEvent(&event, SynchronizationEvent, TRUE);
  LARGE_INTEGER zero{};
  EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
  EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
  EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 0);
  EXPECT_EQ(KeResetEvent(&event), 1);
}

TEST_P(KeTest, WaitAnyReportsTheSignalledObject) {
  KEVENT events[3];
  for (auto& e : events) KeInitializeEvent(&e, NotificationEvent, FALSE);
  KeSetEvent(&events[2], IO_NO_INCREMENT, FALSE);
  PVOID objects[] = {&events[0], &events[1], &events[2]};
  LARGE_INTEGER timeout = relativeMs(10);
  EXPECT_EQ(KeWaitForMultipleObjects(3, objects, WaitAny, Executive, KernelMode, FALSE, &timeout,
                                     nullptr),
            STATUS_WAIT_0 + 2);
}

TEST_P(KeTest, RearmingASetTimerMovesItsDueTime) {
  Signaller signaller;
  const Duration start = now();
  EXPECT_FALSE(KeSetTimer(&signaller.timer, relativeMs(300), &signaller.dpc));
  EXPECT_TRUE(KeSetTimer(&signaller.timer, relativeMs(20), &signaller.dpc));
  LARGE_INTEGER timeout = relativeMs(5000);
  ASSERT_EQ(KeWaitForSingleObject(&signaller.event, Executive, KernelMode, FALSE, &timeout),
            STATUS_SUCCESS);
  EXPECT_LT(now() - start, 250ms);
  s().runFor(400ms);
  EXPECT_EQ(signaller.runs, 1);
}

TEST_P(KeTest, CancelledTimerNeverRuns) {
  Signaller signaller;
  KeSetTimer(&signaller.timer, relativeMs(10), &signaller.dpc);
  EXPECT_TRUE(KeCancelTimer(&signaller.timer));
  EXPECT_FALSE(KeCancelTimer(&signaller.timer));
  s().runFor(50ms);
  EXPECT_EQ(signaller.runs, 0);
  EXPECT_FALSE(KeReadStateTimer(&signaller.timer));
}

struct DpcLog {
  std::mutex mutex;
  std::vector<int> order;
  std::vector<KIRQL> irqls;
  static void run(PKDPC, PVOID context, PVOID argument, PVOID) {
    auto* log = static_cast<DpcLog*>(context);
    std::lock_guard lock(log->mutex);
    log->order.push_back(static_cast<int>(reinterpret_cast<std::intptr_t>(argument)));
    log->irqls.push_back(KeGetCurrentIrql());
  }
};

TEST_P(KeTest, DpcsRunOnceInQueueOrderAtDispatchLevel) {
  // On real threads a queued DPC may run before the next line queues
  // another, so the queue order is only observable on the virtual one.
  if (GetParam() == Clocking::Real) GTEST_SKIP() << "queue order needs the virtual scheduler";
  DpcLog log;
  KDPC dpcs[3];
  for (auto& dpc : dpcs) KeInitializeDpc(&dpc, DpcLog::run, &log);
  EXPECT_TRUE(KeInsertQueueDpc(&dpcs[1], reinterpret_cast<PVOID>(1), nullptr));
  EXPECT_TRUE(KeInsertQueueDpc(&dpcs[0], reinterpret_cast<PVOID>(0), nullptr));
  EXPECT_FALSE(KeInsertQueueDpc(&dpcs[1], reinterpret_cast<PVOID>(9), nullptr));
  EXPECT_TRUE(KeInsertQueueDpc(&dpcs[2], reinterpret_cast<PVOID>(2), nullptr));
  EXPECT_TRUE(KeRemoveQueueDpc(&dpcs[2]));
  ASSERT_TRUE(s().runUntil(
      [&] {
        std::lock_guard lock(log.mutex);
        return log.order.size() >= 2;
      },
      2s));
  s().runFor(20ms);
  std::lock_guard lock(log.mutex);
  EXPECT_EQ(log.order, (std::vector<int>{1, 0}));
  EXPECT_EQ(log.irqls, (std::vector<KIRQL>{DISPATCH_LEVEL, DISPATCH_LEVEL}));
}

struct ThreadState {
  KEVENT go;
  std::atomic<int> stage{0};
  std::atomic<KIRQL> irql{0xFF};
};

void threadBody(PVOID context) {
  auto* state = static_cast<ThreadState*>(context);
  state->irql = KeGetCurrentIrql();
  KeWaitForSingleObject(&state->go, Executive, KernelMode, FALSE, nullptr);
  state->stage = 1;
  PsTerminateSystemThread(STATUS_SUCCESS);
}

TEST_P(KeTest, ThreadObjectIsSignalledWhenTheThreadEnds) {
  ThreadState state;
  KeInitializeEvent(&state.go, NotificationEvent, FALSE);
  HANDLE handle;
  ASSERT_EQ(PsCreateSystemThread(&handle, 0, nullptr, nullptr, nullptr, threadBody, &state),
            STATUS_SUCCESS);
  PVOID thread;
  ASSERT_EQ(ObReferenceObjectByHandle(handle, 0, nullptr, KernelMode, &thread, nullptr),
            STATUS_SUCCESS);
  LARGE_INTEGER shortWait = relativeMs(20);
  EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, &shortWait),
            STATUS_TIMEOUT);
  KeSetEvent(&state.go, IO_NO_INCREMENT, FALSE);
  LARGE_INTEGER longWait = relativeMs(5000);
  EXPECT_EQ(ZwWaitForSingleObject(handle, FALSE, &longWait), STATUS_SUCCESS);
  EXPECT_EQ(state.stage, 1);
  EXPECT_EQ(state.irql, PASSIVE_LEVEL);
  ObDereferenceObject(thread);
  ZwClose(handle);
}

TEST_P(KeTest, SpinLockRaisesToDispatchLevelAndRestores) {
  KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  KIRQL old;
  KeAcquireSpinLock(&lock, &old);
  EXPECT_EQ(old, PASSIVE_LEVEL);
  EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
  KeReleaseSpinLock(&lock, old);
  EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
  EXPECT_EQ(lock, 0u);
}

TEST_P(KeTest, TickCountAdvancesWithTime) {
  EXPECT_EQ(KeQueryTimeIncrement(), kDefaultTimeIncrement);
  LARGE_INTEGER before;
  KeQueryTickCount(&before);
  LARGE_INTEGER interval = relativeMs(100);
  KeDelayExecutionThread(KernelMode, FALSE, &interval);
  LARGE_INTEGER after;
  KeQueryTickCount(&after);
  const LONGLONG ms = (after.QuadPart - before.QuadPart) * KeQueryTimeIncrement() / 10'000;
  EXPECT_GE(ms, 100 - 16);
  EXPECT_LE(ms, 1000);
}

// The machine's tick comes from its settings; a value NT could not run at
// leaves the 1 ms tick.
TEST(TimeIncrementTest, TheMachineSettingChoosesTheTick) {
  struct Case {
    std::optional<win32::RegValue> setting;
    ULONG increment;
  };
  const Case cases[] = {
      {std::nullopt, 10'000},          {std::uint32_t{156'250}, 156'250},
      {std::uint32_t{10'000}, 10'000}, {std::uint32_t{50'000}, 50'000},
      {std::uint32_t{9'999}, 10'000},  {std::uint32_t{156'251}, 10'000},
      {std::string("156250"), 10'000},
  };
  for (const Case& c : cases) {
    win32::TempDir dir;
    const win32::Prefix prefix(dir.path());
    if (c.setting) {
      win32::Registry(prefix).set(win32::RootKey::LocalMachine, kMachineSettingsKey,
                                  kTimeIncrementValue, *c.setting);
    }
    Kernel kernel(std::make_unique<VirtualScheduler>(1), prefix);
    EXPECT_EQ(KeQueryTimeIncrement(), c.increment) << c.increment;
    kernel.scheduler().runFor(Duration(c.increment * 100ns) * 3);
    LARGE_INTEGER ticks;
    KeQueryTickCount(&ticks);  // with nothing due, the read moves on a tick
    EXPECT_EQ(ticks.QuadPart, 4) << c.increment;
  }
}

// On the real scheduler a busy host must not let a driver see the clock pass
// a moment without what the devices did by then.
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

INSTANTIATE_TEST_SUITE_P(BothSchedulers, KeTest,
                         ::testing::Values(Clocking::Virtual, Clocking::Real),
                         [](const auto& info) { return clockingName(info.param); });

}  // namespace
}  // namespace k52::nt

// Reads on the virtual clock: counts, time-outs, cancel and purge.
#include <gtest/gtest.h>

#include "platform/nt/serial/test_port_client.h"

namespace k52::nt::serial {
namespace {

using namespace std::chrono_literals;

// 9600 baud 8E2: 12 bits, 1.25 ms a character.
constexpr Duration kChar = 1250us;

using SerialReadTest = OpenPortTest;

TEST_F(SerialReadTest, ReadEndsWhenTheCountHasArrivedAndLeavesTheRestQueued) {
  ASSERT_EQ(port_.setTimeouts(0, 0, 0), STATUS_SUCCESS);
  rig_.device().sendIn(10ms, {1, 2, 3, 4, 5});
  auto first = port_.read(3);
  EXPECT_EQ(first->iosb.Status, STATUS_SUCCESS);
  EXPECT_EQ(first->data(), (Bytes{1, 2, 3}));
  EXPECT_EQ(rig_.scheduler().now(), 10ms + 3 * kChar);
  rig_.scheduler().runFor(10ms);
  // What came meanwhile waits in the receive queue for the next read.
  auto second = port_.read(2);
  EXPECT_EQ(second->iosb.Status, STATUS_SUCCESS);
  EXPECT_EQ(second->data(), (Bytes{4, 5}));
  EXPECT_EQ(rig_.scheduler().now(), 20ms + 3 * kChar);
}

struct TimeoutCase {
  const char* name;
  SERIAL_TIMEOUTS timeouts;
  Bytes before;  // in the receive queue when the read starts
  Duration sendAt;
  Bytes later;  // sent by the device at sendAt after the read started
  ULONG count;
  NTSTATUS status;
  Bytes data;
  Duration took;
};

class SerialReadTimeouts : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(SerialReadTimeouts, EndAsConfigured) {
  const TimeoutCase& c = GetParam();
  SerialRig rig;
  PortClient port;
  ASSERT_EQ(port.setLine(9600, 8, EVEN_PARITY, STOP_BITS_2), STATUS_SUCCESS);
  ASSERT_EQ(port.set(IOCTL_SERIAL_SET_TIMEOUTS, c.timeouts), STATUS_SUCCESS);
  if (!c.before.empty()) {
    rig.device().sendIn(0ms, c.before);
    rig.scheduler().runFor(1s);
  }
  const Duration start = rig.scheduler().now();
  if (!c.later.empty()) rig.device().sendIn(c.sendAt, c.later);
  auto read = port.read(c.count);
  EXPECT_EQ(read->iosb.Status, c.status);
  EXPECT_EQ(read->data(), c.data);
  EXPECT_EQ(rig.scheduler().now() - start, c.took);
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialReadTimeouts,
                         ::testing::Values(
                             // The gap after the second byte exceeds the interval.
                             TimeoutCase{"IntervalAfterLastByte",
                                         {30, 0, 0, 0, 0},
                                         {},
                                         5ms,
                                         {0xA1, 0xA2},
                                         4,
                                         STATUS_TIMEOUT,
                                         {0xA1, 0xA2},
                                         5ms + 2 * kChar + 30ms},
                             // The interval runs only once a byte has come; the total ends it.
                             TimeoutCase{"IntervalWaitsForTheFirstByte",
                                         {30, 0, 100, 0, 0},
                                         {},
                                         0ms,
                                         {},
                                         4,
                                         STATUS_TIMEOUT,
                                         {},
                                         100ms},
                             // Total = 10 x 4 + 50 ms, counted from the start of the read.
                             TimeoutCase{"TotalWithMultiplier",
                                         {0, 10, 50, 0, 0},
                                         {},
                                         10ms,
                                         {0x01},
                                         4,
                                         STATUS_TIMEOUT,
                                         {0x01},
                                         90ms},
                             // The reader driver's set-up: a short answer in time is complete.
                             TimeoutCase{"ReaderSetUpShortAnswer",
                                         {30, 300, 300000, 0, 5000},
                                         {},
                                         2ms,
                                         {0x00, 0x01, 0x67},
                                         3,
                                         STATUS_SUCCESS,
                                         {0x00, 0x01, 0x67},
                                         2ms + 3 * kChar},
                             TimeoutCase{"ImmediateWithWhatIsQueued",
                                         {MAXULONG, 0, 0, 0, 0},
                                         {7, 8},
                                         0ms,
                                         {},
                                         5,
                                         STATUS_SUCCESS,
                                         {7, 8},
                                         0ms},
                             TimeoutCase{"ImmediateWithNothing",
                                         {MAXULONG, 0, 0, 0, 0},
                                         {},
                                         5ms,
                                         {9},
                                         5,
                                         STATUS_SUCCESS,
                                         {},
                                         0ms},
                             TimeoutCase{"FirstByteEndsIt",
                                         {MAXULONG, MAXULONG, 100, 0, 0},
                                         {},
                                         40ms,
                                         {3, 4},
                                         5,
                                         STATUS_SUCCESS,
                                         {3},
                                         40ms + kChar},
                             TimeoutCase{"FirstByteModeWithQueuedBytes",
                                         {MAXULONG, MAXULONG, 100, 0, 0},
                                         {3, 4},
                                         0ms,
                                         {},
                                         5,
                                         STATUS_SUCCESS,
                                         {3, 4},
                                         0ms},
                             TimeoutCase{"FirstByteModeTimesOut",
                                         {MAXULONG, MAXULONG, 100, 0, 0},
                                         {},
                                         0ms,
                                         {},
                                         5,
                                         STATUS_TIMEOUT,
                                         {},
                                         100ms},
                             // Whatever waits in the queue is taken before the time-outs start.
                             TimeoutCase{"QueuedBytesThenInterval",
                                         {20, 0, 0, 0, 0},
                                         {5, 6},
                                         0ms,
                                         {},
                                         3,
                                         STATUS_TIMEOUT,
                                         {5, 6},
                                         20ms}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialReadTest, CancelEndsTheReadWithWhatArrivedAndTheQueuedOnesWithNothing) {
  ASSERT_EQ(port_.setTimeouts(0, 0, 0), STATUS_SUCCESS);
  auto current = port_.startRead(4);
  auto queued = port_.startRead(4);
  rig_.device().sendIn(5ms, {0x11, 0x22});
  // The reader driver's pattern: wait with a time-out, then cancel.
  LARGE_INTEGER limit = relativeMs(50);
  EXPECT_FALSE(PortClient::wait(*current, &limit));
  PortClient::cancel(*current);
  EXPECT_EQ(current->iosb.Status, STATUS_CANCELLED);
  // The count says what had arrived; as for every request that ends in an
  // error, the I/O manager copies no buffered data back.
  EXPECT_EQ(current->iosb.Information, 2u);
  EXPECT_EQ(current->buffer, Bytes(4, 0));
  // The next read is served now and gets the next bytes.
  rig_.device().sendIn(0ms, {0x33});
  rig_.scheduler().runFor(10ms);
  EXPECT_FALSE(queued->done());
  PortClient::cancel(*queued);
  EXPECT_EQ(queued->iosb.Status, STATUS_CANCELLED);
  EXPECT_EQ(queued->iosb.Information, 1u);
  // A read queued behind a running one and cancelled moves nothing.
  auto running = port_.startRead(1);
  auto waiting = port_.startRead(1);
  PortClient::cancel(*waiting);
  EXPECT_EQ(waiting->iosb.Status, STATUS_CANCELLED);
  EXPECT_EQ(waiting->iosb.Information, 0u);
  rig_.device().sendIn(0ms, {0x44});
  PortClient::wait(*running);
  EXPECT_EQ(running->data(), (Bytes{0x44}));
}

TEST_F(SerialReadTest, PurgeAbortsReadsAndClearsTheQueue) {
  ASSERT_EQ(port_.setTimeouts(0, 0, 0), STATUS_SUCCESS);
  rig_.device().sendIn(0ms, {1, 2, 3});
  rig_.scheduler().runFor(10ms);
  auto pending = port_.startRead(5);  // takes the three queued bytes
  auto behind = port_.startRead(5);
  const ULONG mask = SERIAL_PURGE_RXABORT | SERIAL_PURGE_RXCLEAR;
  ASSERT_EQ(port_.set(IOCTL_SERIAL_PURGE, mask), STATUS_SUCCESS);
  ASSERT_TRUE(pending->done() && behind->done());
  EXPECT_EQ(pending->iosb.Status, STATUS_CANCELLED);
  EXPECT_EQ(pending->iosb.Information, 3u);
  EXPECT_EQ(behind->iosb.Status, STATUS_CANCELLED);
  EXPECT_EQ(behind->iosb.Information, 0u);

  rig_.device().sendIn(0ms, {4, 5});
  rig_.scheduler().runFor(10ms);
  SERIAL_STATUS status{};
  ASSERT_EQ(port_.get(IOCTL_SERIAL_GET_COMMSTATUS, &status), STATUS_SUCCESS);
  EXPECT_EQ(status.AmountInInQueue, 2u);
  // The reader driver's mask: both queues, both directions.
  ASSERT_EQ(port_.set(IOCTL_SERIAL_PURGE, ULONG{15}), STATUS_SUCCESS);
  ASSERT_EQ(port_.get(IOCTL_SERIAL_GET_COMMSTATUS, &status), STATUS_SUCCESS);
  EXPECT_EQ(status.AmountInInQueue, 0u);
  for (const ULONG bad : {0u, 0x10u, 0x80000001u}) {
    EXPECT_EQ(port_.set(IOCTL_SERIAL_PURGE, bad), STATUS_INVALID_PARAMETER) << bad;
  }
}

TEST_F(SerialReadTest, FullReceiveQueueDropsBytesAndReportsTheOverrun) {
  ASSERT_EQ(port_.setLine(115200, 8, NO_PARITY, STOP_BIT_1), STATUS_SUCCESS);
  rig_.device().sendIn(0ms, Bytes(kDefaultReceiveQueue + 10, 0x5A));
  rig_.scheduler().runFor(1s);
  SERIAL_STATUS status{};
  ASSERT_EQ(port_.get(IOCTL_SERIAL_GET_COMMSTATUS, &status), STATUS_SUCCESS);
  EXPECT_EQ(status.Errors, SERIAL_ERROR_QUEUEOVERRUN);
  EXPECT_EQ(status.AmountInInQueue, kDefaultReceiveQueue);
  // Reading the status clears the error.
  ASSERT_EQ(port_.get(IOCTL_SERIAL_GET_COMMSTATUS, &status), STATUS_SUCCESS);
  EXPECT_EQ(status.Errors, 0u);
  // A larger queue takes more.
  ASSERT_EQ(port_.set(IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{8192, 0}), STATUS_SUCCESS);
  rig_.device().sendIn(0ms, Bytes(100, 0x5A));
  rig_.scheduler().runFor(1s);
  ASSERT_EQ(port_.get(IOCTL_SERIAL_GET_COMMSTATUS, &status), STATUS_SUCCESS);
  EXPECT_EQ(status.AmountInInQueue, kDefaultReceiveQueue + 100);
  EXPECT_EQ(status.Errors, 0u);
}

TEST_F(SerialReadTest, PortOpensOnceAndClosingCancelsWhatIsPending) {
  PortClient second;
  EXPECT_EQ(second.openStatus(), STATUS_SHARING_VIOLATION);
  ASSERT_EQ(port_.setTimeouts(0, 0, 0), STATUS_SUCCESS);
  auto pending = port_.startRead(4);
  port_.close();
  ASSERT_TRUE(pending->done());
  EXPECT_EQ(pending->iosb.Status, STATUS_CANCELLED);
  EXPECT_FALSE(rig_.line().isOpen());
  // Bytes sent to a closed port are lost.
  rig_.device().sendIn(0ms, {1, 2});
  rig_.scheduler().runFor(10ms);
  PortClient again;
  ASSERT_EQ(again.openStatus(), STATUS_SUCCESS);
  SERIAL_STATUS status{};
  ASSERT_EQ(again.get(IOCTL_SERIAL_GET_COMMSTATUS, &status), STATUS_SUCCESS);
  EXPECT_EQ(status.AmountInInQueue, 0u);
}

}  // namespace
}  // namespace k52::nt::serial

// Writes on the virtual clock: line time by frame, the write time-out,
// order and cancel; and a device model answering what it receives.
#include <gtest/gtest.h>

#include "platform/nt/serial/test_port_client.h"

namespace k52::nt::serial {
namespace {

using namespace std::chrono_literals;

struct FrameCase {
  const char* name;
  ULONG baud;
  UCHAR dataBits;
  UCHAR parity;
  UCHAR stopBits;
  Duration perCharacter;
};

class SerialWriteTiming : public ::testing::TestWithParam<FrameCase> {};

TEST_P(SerialWriteTiming, CharactersLeaveOneFrameApartAndTheWriteEndsWithTheLast) {
  const FrameCase& c = GetParam();
  SerialRig rig;
  PortClient port;
  ASSERT_EQ(port.setLine(c.baud, c.dataBits, c.parity, c.stopBits), STATUS_SUCCESS);
  const Bytes data = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
  auto write = port.write(data);
  EXPECT_EQ(write->iosb.Status, STATUS_SUCCESS);
  EXPECT_EQ(write->iosb.Information, data.size());
  // Within the 100 ns the kernel's timers count in.
  const auto near = [](Duration a, Duration b) { return std::chrono::abs(a - b) < 100ns; };
  const Duration took = rig.scheduler().now();
  EXPECT_PRED2(near, took, 8 * c.perCharacter);
  rig.scheduler().runFor(1ms);
  ASSERT_EQ(rig.device().received(), data);
  EXPECT_PRED2(near, rig.device().arrivals[0].at, c.perCharacter);
  // The last character is there when the write completes.
  EXPECT_LE(rig.device().arrivals[7].at, took);
  EXPECT_PRED2(near, rig.device().arrivals[7].at, took);
}

INSTANTIATE_TEST_SUITE_P(Frames, SerialWriteTiming,
                         ::testing::Values(
                             // start + 8 data + parity + 2 stop = 12 bits
                             FrameCase{"At9600With8E2", 9600, 8, EVEN_PARITY, STOP_BITS_2, 1250us},
                             FrameCase{"At9600With8N1", 9600, 8, NO_PARITY, STOP_BIT_1, 1041666ns},
                             FrameCase{"At2400With7O1", 2400, 7, ODD_PARITY, STOP_BIT_1, 4166666ns},
                             // start + 5 data + 1.5 stop = 7.5 bits
                             FrameCase{"At1200With5N15", 1200, 5, NO_PARITY, STOP_BITS_1_5,
                                       6250us}),
                         [](const auto& info) { return std::string(info.param.name); });

using SerialWriteTest = OpenPortTest;

TEST_F(SerialWriteTest, WriteTimeoutEndsTheWriteWithTheCharactersSent) {
  // 10 characters take 12.5 ms; the limit is 2 x 10 + 1 = 21 ms, then 5 ms.
  ASSERT_EQ(port_.setTimeouts(0, 0, 0, 2, 1), STATUS_SUCCESS);
  auto inTime = port_.write(Bytes(10, 0xAA));
  EXPECT_EQ(inTime->iosb.Status, STATUS_SUCCESS);
  EXPECT_EQ(inTime->iosb.Information, 10u);
  ASSERT_EQ(port_.setTimeouts(0, 0, 0, 0, 5), STATUS_SUCCESS);
  const Duration start = rig_.scheduler().now();
  auto late = port_.write(Bytes(10, 0xBB));
  EXPECT_EQ(late->iosb.Status, STATUS_TIMEOUT);
  EXPECT_EQ(late->iosb.Information, 4u);
  EXPECT_EQ(rig_.scheduler().now() - start, 5ms);
  rig_.scheduler().runFor(50ms);
  EXPECT_EQ(rig_.device().received().size(), 14u);
}

TEST_F(SerialWriteTest, WritesGoOutInOrderAndCancelStopsTheLine) {
  auto first = port_.startWrite({1, 2, 3, 4});
  auto second = port_.startWrite({5, 6});
  auto third = port_.startWrite({7, 8, 9, 10, 11, 12, 13, 14});
  SERIAL_STATUS status{};
  ASSERT_EQ(port_.get(IOCTL_SERIAL_GET_COMMSTATUS, &status), STATUS_SUCCESS);
  EXPECT_EQ(status.AmountInOutQueue, 14u);
  PortClient::wait(*second);
  EXPECT_TRUE(first->done());
  EXPECT_EQ(rig_.scheduler().now(), 6 * 1250us);
  rig_.scheduler().runFor(3 * 1250us);
  PortClient::cancel(*third);
  EXPECT_EQ(third->iosb.Status, STATUS_CANCELLED);
  EXPECT_EQ(third->iosb.Information, 3u);
  rig_.scheduler().runFor(50ms);
  EXPECT_EQ(rig_.device().received(), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(SerialWriteTest, PurgeAbortsTheWrites) {
  auto running = port_.startWrite(Bytes(20, 0x33));
  auto waiting = port_.startWrite(Bytes(5, 0x44));
  rig_.scheduler().runFor(2 * 1250us);
  ASSERT_EQ(port_.set(IOCTL_SERIAL_PURGE, SERIAL_PURGE_TXABORT | SERIAL_PURGE_TXCLEAR),
            STATUS_SUCCESS);
  ASSERT_TRUE(running->done() && waiting->done());
  EXPECT_EQ(running->iosb.Status, STATUS_CANCELLED);
  EXPECT_EQ(running->iosb.Information, 2u);
  EXPECT_EQ(waiting->iosb.Information, 0u);
  rig_.scheduler().runFor(50ms);
  EXPECT_EQ(rig_.device().received(), Bytes(2, 0x33));
}

TEST_F(SerialWriteTest, ScriptedDeviceAnswersACommandFrame) {
  // The terminal's way: a frame in, after a pause its answer frame out.
  Bytes frame;
  rig_.device().onByte = [&](std::uint8_t byte) {
    frame.push_back(byte);
    if (frame.size() == 3) rig_.device().sendIn(2ms, {0x00, 0x02, 0x64, frame[2]});
  };
  ASSERT_EQ(port_.setTimeouts(30, 300, 300000, 0, 5000), STATUS_SUCCESS);
  auto write = port_.write({0x00, 0x01, 0x65});
  EXPECT_EQ(write->iosb.Status, STATUS_SUCCESS);
  auto header = port_.read(3);
  EXPECT_EQ(header->data(), (Bytes{0x00, 0x02, 0x64}));
  auto rest = port_.read(1);
  EXPECT_EQ(rest->data(), (Bytes{0x65}));
  // 3 characters out, 2 ms, 4 characters back.
  EXPECT_EQ(rig_.scheduler().now(), 7 * 1250us + 2ms);
}

}  // namespace
}  // namespace k52::nt::serial

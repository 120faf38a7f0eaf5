// The receive side through the simulated keyboard: frames from the terminal
// go into the FIFO, everything else reaches the keystroke reader unchanged.
#include <gtest/gtest.h>

#include "drivers/kbdchannel/test_channel_rig.h"

namespace k52::kbdchannel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// The keyboard sends `codes` as they are, one line time apart.
void sendCodes(ChannelRig& rig, const Bytes& codes) {
  for (std::uint8_t code : codes) {
    rig.pc().keyboard().press(code);
    rig.run(3ms);
  }
  rig.run(50ms);
}

struct FilterCase {
  const char* name;
  Bytes codes;
  Bytes fifo;        // bytes queued
  Bytes keystrokes;  // codes that reach the reader
};

class FilterCases : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterCases, SeparatesTerminalTrafficFromKeystrokes) {
  const FilterCase& c = GetParam();
  sim::EchoFirmware echo;
  ChannelRig rig(echo);
  ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);
  rig.run(100ms);  // the CWT command and its acknowledgments
  sendCodes(rig, c.codes);
  EXPECT_EQ(rig.drainFifoValues(), c.fifo);
  EXPECT_EQ(rig.pc().reader().codes(), c.keystrokes);
}

INSTANTIATE_TEST_SUITE_P(
    Channel, FilterCases,
    ::testing::Values(
        FilterCase{
            "Frame", {0x64, 0x7F, 0x10, 0x10, 0x10, 0x11, 0x1A, 0x1B}, {0x00, 0x01, 0xAB}, {}},
        FilterCase{"KeystrokeInsideFrame",
                   {0x64, 0x7F, 0x10, 0x10, 0x2C, 0x10, 0x11, 0xAC, 0x1A, 0x1B, 0x1E},
                   {0x00, 0x01, 0xAB},
                   {0x2C, 0xAC, 0x1E}},
        FilterCase{"EmptyFrame", {0x64, 0xFF, 0x10, 0x10, 0x10, 0x10, 0x1E}, {0x00, 0x00}, {0x1E}},
        FilterCase{"LeadInWithoutMarker", {0x64, 0x2C, 0x7F}, {}, {0x2C, 0x7F}},
        FilterCase{"Acknowledgment", {0xFE, 0x1E, 0xFE}, {}, {0x1E}},
        FilterCase{"KeysAroundFrames",
                   {0x1E, 0x64, 0xFF, 0x10, 0x10, 0x10, 0x10, 0x9E, 0x64, 0x7F, 0x10, 0x10, 0x10,
                    0x11, 0x1F, 0x1F, 0x30},
                   {0x00, 0x00, 0x00, 0x01, 0xFF},
                   {0x1E, 0x9E, 0x30}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ChannelReceive, FilterOffLetsFramesThroughAsKeystrokes) {
  sim::EchoFirmware echo;
  ChannelRig rig(echo);
  ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);
  rig.run(100ms);
  rig.closeClient();
  {
    auto tool = rig.openTool(false);
    ASSERT_NE(tool, nullptr);
    Bytes out(2);
    ASSERT_EQ(tool->deviceIoControl(IOCTL_VRL_FILTER_OFF, {}, out).status, nt::STATUS_SUCCESS);
    ASSERT_EQ(tool->deviceIoControl(IOCTL_VRL_FILTER_MODE, {}, out).bytesReturned, 2u);
    EXPECT_EQ(out, (Bytes{0x20, 0x00}));
  }
  const Bytes frame = {0x64, 0xFF, 0x10, 0x10, 0x10, 0x10};
  sendCodes(rig, frame);
  EXPECT_EQ(rig.pc().reader().codes(), frame);
  EXPECT_TRUE(rig.drainFifoValues().empty());
}

TEST(ChannelReceive, AnswerFramesFromTheTerminalReachTheClient) {
  sim::EchoFirmware echo;
  ChannelRig rig(echo);
  ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);
  // A key typed while the answer comes in stays a keystroke.
  rig.wiring().terminal().injectKeystrokeInNextFrame(0x2C, 3);
  ASSERT_EQ(rig.sendTerminal({0x12, 0x34, 0xAB}), kSendOk);
  rig.run(200ms);
  const std::vector<FifoEntry> entries = rig.drainFifo();
  ASSERT_EQ(entries.size(), 5u);
  const Bytes expected = {0x00, 0x03, 0x12, 0x34, 0xAB};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].value, expected[i]);
    EXPECT_EQ(entries[i].port, 0x60);
    EXPECT_EQ(entries[i].kind, 1);
    if (i > 0) {
      EXPECT_GE(entries[i].time, entries[i - 1].time);
    }
  }
  EXPECT_GE(entries[0].time, 1000u);  // after the start hold
  EXPECT_EQ(rig.dataCallbacks(), (std::vector<std::uint16_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(rig.pc().reader().codes(), (Bytes{0x2C, 0xAC}));
}

TEST(ChannelReceive, FifoKeepsTheFirst1024BytesOfAnOverlongAnswer) {
  sim::EchoFirmware echo;
  ChannelRig rig(echo);
  ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);
  rig.wiring().terminal().floodNextFrame(1500);
  ASSERT_EQ(rig.sendTerminal({0x42}), kSendOk);
  rig.run(10s);
  ASSERT_EQ(rig.dataCallbacks().size(), 1502u);
  EXPECT_EQ(rig.dataCallbacks().back(), 1024);
  const Bytes fifo = rig.drainFifoValues();
  ASSERT_EQ(fifo.size(), 1024u);
  EXPECT_EQ(fifo[0], 0x05);  // 1500 = 0x05DC
  EXPECT_EQ(fifo[1], 0xDC);
  EXPECT_EQ(fifo[2], 0x42);
  EXPECT_TRUE(rig.pc().reader().codes().empty());
}

TEST(ChannelReceive, HookAndUnhookRestartTheWaitingReadWithoutAKeystroke) {
  sim::EchoFirmware echo;
  ChannelRig rig(echo);
  rig.run(20ms);
  const std::size_t reads = rig.pc().reader().reads();
  {
    auto tool = rig.openTool(false);
    Bytes word(2);
    ASSERT_EQ(tool->deviceIoControl(IOCTL_VRL_HOOK, {}, word).status, nt::STATUS_SUCCESS);
    rig.run(20ms);
    EXPECT_EQ(rig.pc().reader().reads(), reads + 1);
    ASSERT_EQ(tool->deviceIoControl(IOCTL_VRL_UNHOOK, {}, {}).status, nt::STATUS_SUCCESS);
    rig.run(20ms);
    EXPECT_EQ(rig.pc().reader().reads(), reads + 2);
  }
  EXPECT_TRUE(rig.pc().reader().codes().empty());
}

TEST(ChannelReceive, DetachLetsEverythingThroughAgain) {
  sim::EchoFirmware echo;
  ChannelRig rig(echo);
  ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);
  sendCodes(rig, {0x64, 0xFF, 0x10, 0x10, 0x10, 0x10});
  EXPECT_EQ(rig.drainFifoValues(), (Bytes{0x00, 0x00}));
  ASSERT_EQ(rig.detach(), nt::STATUS_SUCCESS);
  sendCodes(rig, {0x64, 0xFF, 0x10, 0x10});
  EXPECT_EQ(rig.pc().reader().codes(), (Bytes{0x64, 0xFF, 0x10, 0x10}));
  EXPECT_TRUE(rig.drainFifoValues().empty());
  EXPECT_EQ(rig.dataCallbacks().size(), 2u);
}

TEST(ChannelReceive, FrameAfterAnUnhookInsideAByteIsReadFromItsFirstNibble) {
  sim::EchoFirmware echo;
  ChannelRig rig(echo);
  ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);
  rig.run(100ms);
  sendCodes(rig, {0x64, 0x7F, 0x10, 0x10, 0x10});  // cut off after a high nibble
  EXPECT_EQ(rig.drainFifoValues(), (Bytes{0x00}));
  ASSERT_EQ(rig.detach(), nt::STATUS_SUCCESS);
  ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);
  rig.run(100ms);
  sendCodes(rig, {0x64, 0x7F, 0x10, 0x10, 0x10, 0x11, 0x1A, 0x1B, 0x1E});
  EXPECT_EQ(rig.drainFifoValues(), (Bytes{0x00, 0x01, 0xAB}));
  EXPECT_EQ(rig.pc().reader().codes(), (Bytes{0x1E})) << "a key after the frame is a keystroke";
}

TEST(ChannelReceive, WorksOnTheRealClockWithRealThreads) {
  sim::EchoFirmware echo;
  ChannelRig rig(echo, RigOptions{.clocking = nt::Clocking::Real});
  ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);
  ASSERT_EQ(rig.sendTerminal({0x12, 0x34, 0xAB}), kSendOk);
  ASSERT_TRUE(rig.scheduler().runUntil([&] { return rig.dataCallbacks().size() == 5; }, 5s))
      << ::testing::PrintToString(rig.pc().reader().codes());
  EXPECT_EQ(rig.drainFifoValues(), (Bytes{0x00, 0x03, 0x12, 0x34, 0xAB}));
  // Device models run as events; a key press is one.
  rig.scheduler().schedule(
      0ms, [&] { rig.pc().keyboard().press(0x2C); }, nt::EventKind::Device);
  ASSERT_TRUE(rig.scheduler().runUntil([&] { return !rig.pc().reader().codes().empty(); }, 5s));
  EXPECT_EQ(rig.pc().reader().codes(), (Bytes{0x2C}));
}

}  // namespace
}  // namespace k52::kbdchannel

// The send path through the simulated controller and keyboard: the codes on
// the wire, the acknowledgments, the holds and the failure limits.
#include <gtest/gtest.h>

#include "drivers/kbdchannel/test_channel_rig.h"

namespace k52::kbdchannel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using sim::Keyboard;

Duration firstHostByteAt(ChannelRig& rig) {
  const auto& entries = rig.wiring().hostBytes().entries();
  return entries.empty() ? Duration::max() : entries.front().at;
}

TEST(ChannelSend, StringsToTheTerminalGoOutAsNibbleCodes) {
  struct Case {
    Bytes data;
    Bytes codes;
  };
  const Case cases[] = {
      {{0x12, 0x34, 0xAB}, {0xB0, 0xB0, 0xB0, 0xB3, 0xB1, 0xB2, 0xB3, 0xB4, 0xBA, 0xBB}},
      {{}, {0xB0, 0xB0, 0xB0, 0xB0}},
  };
  sim::ScriptedFirmware silent;
  ChannelRig rig(silent);
  ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);
  for (const Case& c : cases) {
    rig.run(20ms);
    rig.wiring().hostBytes().clear();
    EXPECT_EQ(rig.sendTerminal(c.data), kSendOk);
    EXPECT_EQ(rig.wiring().hostBytes().bytes(), c.codes);
  }
  EXPECT_TRUE(rig.pc().reader().codes().empty());  // the acknowledgments were taken out
}

TEST(ChannelSend, StringsToTheKeyboardGoOutRaw) {
  sim::ScriptedFirmware silent;
  ChannelRig rig(silent);
  ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);
  rig.wiring().hostBytes().clear();
  EXPECT_EQ(rig.sendKeyboard({0xED, 0x04}), kSendOk);
  EXPECT_EQ(rig.wiring().hostBytes().bytes(), (Bytes{0xED, 0x04}));
  EXPECT_EQ(rig.pc().keyboard().indicators(), 0x04);
}

TEST(ChannelSend, KeyboardCwtComesFromTheRegistryAndIsClamped) {
  const std::pair<std::optional<std::uint32_t>, Bytes> cases[] = {
      {std::nullopt, {0xCB, 0x00}},
      {2, {0xCB, 0x02}},
      {200, {0xCB, 0x7F}},
  };
  for (const auto& [cwt, bytes] : cases) {
    sim::ScriptedFirmware silent;
    ChannelRig rig(silent, RigOptions{.keyboardCwt = cwt});
    ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);
    EXPECT_EQ(rig.wiring().hostBytes().bytes(), bytes);
    EXPECT_EQ(rig.pc().keyboard().characterWaitingTime(), bytes[1]);
  }
}

TEST(ChannelSend, NothingGoesOutDuringTheFirstSecond) {
  sim::ScriptedFirmware silent;
  ChannelRig rig(silent);
  rig.run(100ms);
  ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);  // sends the CWT command
  EXPECT_GE(firstHostByteAt(rig), 1s);
  EXPECT_LT(firstHostByteAt(rig), 1100ms);
}

TEST(ChannelSend, LockAndShiftKeysHoldSendingBack) {
  sim::ScriptedFirmware silent;
  ChannelRig rig(silent, RigOptions{.ledTimeoutMs = 300});
  ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);
  rig.run(400ms);
  rig.wiring().hostBytes().clear();
  Keyboard& keyboard = rig.pc().keyboard();
  keyboard.press(Keyboard::kCapsLock);
  rig.run(5ms);
  const Duration pressedAt = rig.scheduler().now();
  ASSERT_EQ(rig.sendTerminal({}), kSendOk);
  EXPECT_GE(firstHostByteAt(rig), pressedAt + 290ms);

  // Holding the key down (repeated makes) does not hold sending again; a new
  // press after the release does.
  rig.run(400ms);
  const auto holdAfter = [&](std::uint8_t code) {
    rig.wiring().hostBytes().clear();
    rig.pc().keyboard().press(code & 0x7F);
    if (code & 0x80) rig.pc().keyboard().release(code & 0x7F);
    rig.run(10ms);
    const Duration at = rig.scheduler().now();
    EXPECT_EQ(rig.sendTerminal({}), kSendOk);
    return firstHostByteAt(rig) - at;
  };
  EXPECT_LT(holdAfter(0x3A), 100ms);  // repeated make of the held key
  rig.pc().keyboard().release(0x3A);
  rig.run(10ms);
  EXPECT_GT(holdAfter(0x3A), 250ms);  // pressed again after its release
  rig.run(400ms);
  EXPECT_GT(holdAfter(0x2A), 250ms);  // left Shift
  // Every key stroke still reached the reader.
  EXPECT_EQ(rig.pc().reader().codes(), (Bytes{0x3A, 0x3A, 0xBA, 0x3A, 0x2A}));
}

TEST(ChannelSend, AMissingAcknowledgmentFailsTheStringAfter25Checks) {
  sim::ScriptedFirmware silent;
  ChannelRig rig(silent);
  ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);
  rig.run(20ms);
  rig.wiring().hostBytes().clear();
  rig.wiring().dropAcks(1);
  const Duration start = rig.scheduler().now();
  EXPECT_EQ(rig.sendTerminal({0x01, 0x02}), kSendFailed);
  const Duration took = rig.scheduler().now() - start;
  EXPECT_EQ(rig.wiring().hostBytes().bytes(), (Bytes{0xB0}));  // no retry, nothing more
  // 25 checks of at least 2 ms each; measured in clock ticks, a wait of
  // 2 ms lasts up to two of them.
  EXPECT_GE(took, 50ms);
  EXPECT_LT(took, 25 * 2 * 16ms + 50ms);
  rig.closeClient();
  auto tool = rig.openTool(false);
  Bytes flag(4, 0xEE);
  ASSERT_EQ(tool->deviceIoControl(IOCTL_VRL_AWAITING_ACK, {}, flag).bytesReturned, 4u);
  EXPECT_EQ(flag, (Bytes{0, 0, 0, 0}));
}

TEST(ChannelSend, AControllerThatNeverEmptiesFailsTheSend) {
  sim::ScriptedFirmware silent;
  ChannelRig rig(silent);
  ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);
  // The controller is gone: its status port floats at 0xFF, input full.
  rig.pc().kernel().bus().unmap(0x60);
  EXPECT_EQ(rig.sendTerminal({0x01}), kSendFailed);
  EXPECT_EQ(rig.sendKeyboard({0x01}), kSendFailed);
  EXPECT_TRUE(rig.wiring().hostBytes().bytes().size() == 2u);  // the CWT command only
}

}  // namespace
}  // namespace k52::kbdchannel

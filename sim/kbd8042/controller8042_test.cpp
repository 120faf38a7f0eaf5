#include "sim/kbd8042/controller8042.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/kbd8042/queue_timeline.h"

namespace k52::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::microseconds;
using std::chrono::milliseconds;
using C = Controller8042;

class ControllerTest : public ::testing::Test {
 protected:
  explicit ControllerTest(Controller8042Config config = {}) : controller(timeline, pic, config) {
    controller.connectKeyboard([this](std::uint8_t b) { atKeyboard.push_back(b); });
    pic.connect(Pic::kKeyboardLine, [this] { ++interrupts; });
  }

  std::uint8_t status() { return controller.readPort(C::kCommandPort); }

  QueueTimeline timeline;
  Pic pic{timeline};
  Controller8042 controller;
  Bytes atKeyboard;
  int interrupts = 0;
};

struct CommandCase {
  const char* name;
  Bytes commands;
  std::uint8_t commandByte;
};

class CommandByte : public ControllerTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandByte, ReadsBackWithTheInterfaceBits) {
  for (const std::uint8_t command : GetParam().commands)
    controller.writePort(C::kCommandPort, command);
  controller.writePort(C::kCommandPort, C::kReadCommandByte);
  EXPECT_EQ(status() & C::kStatusOutputFull, C::kStatusOutputFull);
  EXPECT_EQ(controller.readPort(C::kDataPort), GetParam().commandByte);
  EXPECT_EQ(status() & C::kStatusOutputFull, 0);
}

INSTANTIATE_TEST_SUITE_P(Controller8042, CommandByte,
                         ::testing::Values(CommandCase{"PowerOn", {}, 0x47},
                                           CommandCase{"KeyboardDisabled", {0xAD}, 0x57},
                                           CommandCase{"AuxDisabled", {0xA7}, 0x67},
                                           CommandCase{"BothDisabled", {0xAD, 0xA7}, 0x77},
                                           CommandCase{"ReEnabled", {0xAD, 0xA7, 0xAE, 0xA8}, 0x47},
                                           CommandCase{
                                               "WriteAbandonedByTheNextCommand", {0x60}, 0x47}),
                         [](const auto& info) { return info.param.name; });

TEST_F(ControllerTest, WrittenCommandByteTakesTheNextDataByteOnly) {
  controller.writePort(C::kCommandPort, C::kWriteCommandByte);
  controller.writePort(C::kDataPort, 0x65);
  controller.writePort(C::kDataPort, 0xED);
  EXPECT_EQ(controller.commandByte(), 0x65);
  timeline.runUntilIdle();
  EXPECT_EQ(atKeyboard, Bytes{0xED});
}

class SlowLine : public ControllerTest {
 protected:
  SlowLine() : ControllerTest({.lineTime = milliseconds(2)}) {}
};

TEST_F(SlowLine, InputBufferStaysFullWhileTheByteIsOnTheLine) {
  controller.writePort(C::kDataPort, 0xB3);
  EXPECT_EQ(status() & C::kStatusInputFull, C::kStatusInputFull);
  timeline.runFor(milliseconds(2) - microseconds(1));
  EXPECT_EQ(status() & C::kStatusInputFull, C::kStatusInputFull);
  EXPECT_TRUE(atKeyboard.empty());
  timeline.runFor(microseconds(1));
  EXPECT_EQ(status() & C::kStatusInputFull, 0);
  EXPECT_EQ(atKeyboard, Bytes{0xB3});
}

TEST_F(SlowLine, NextKeyboardByteFollowsOneLineTimeAfterTheRead) {
  for (const std::uint8_t b : {0x1E, 0x9E, 0x30}) controller.fromKeyboard(b);
  Bytes read;
  for (int i = 0; i < 3; ++i) {
    timeline.runFor(milliseconds(2) - microseconds(1));
    EXPECT_EQ(status() & C::kStatusOutputFull, 0) << i;
    timeline.runFor(microseconds(1));
    ASSERT_EQ(status() & C::kStatusOutputFull, C::kStatusOutputFull) << i;
    timeline.runFor(milliseconds(5));  // an unread byte holds back the rest
    read.push_back(controller.readPort(C::kDataPort));
  }
  EXPECT_EQ(read, (Bytes{0x1E, 0x9E, 0x30}));
  EXPECT_EQ(interrupts, 3);
}

TEST_F(ControllerTest, WritingWhileTheInputBufferIsFullLosesTheEarlierByte) {
  controller.writePort(C::kDataPort, 0xB1);
  controller.writePort(C::kDataPort, 0xB2);
  timeline.runUntilIdle();
  EXPECT_EQ(atKeyboard, Bytes{0xB2});
  EXPECT_EQ(controller.overwrittenHostBytes(), 1u);
}

TEST_F(ControllerTest, DisabledKeyboardInterfaceHoldsBytesBack) {
  controller.writePort(C::kCommandPort, C::kDisableKeyboard);
  controller.fromKeyboard(0x1C);
  timeline.runFor(milliseconds(10));
  EXPECT_EQ(status() & C::kStatusOutputFull, 0);
  controller.writePort(C::kCommandPort, C::kEnableKeyboard);
  timeline.runUntilIdle();
  EXPECT_EQ(controller.readPort(C::kDataPort), 0x1C);
  EXPECT_EQ(interrupts, 1);
}

TEST_F(ControllerTest, AuxByteIsMarkedAndDoesNotRaiseTheKeyboardInterrupt) {
  controller.fromAux(0x08);
  timeline.runUntilIdle();
  EXPECT_EQ(status() & (C::kStatusOutputFull | C::kStatusAuxData),
            C::kStatusOutputFull | C::kStatusAuxData);
  EXPECT_EQ(interrupts, 0);
  controller.fromKeyboard(0x1C);
  EXPECT_EQ(controller.readPort(C::kDataPort), 0x08);
  timeline.runUntilIdle();
  EXPECT_EQ(status() & (C::kStatusOutputFull | C::kStatusAuxData), C::kStatusOutputFull);
  EXPECT_EQ(interrupts, 1);
}

TEST_F(ControllerTest, CommandByteReplyGoesAheadOfQueuedKeyboardBytes) {
  controller.fromKeyboard(0x1E);
  controller.fromKeyboard(0x9E);
  timeline.runUntilIdle();
  controller.writePort(C::kCommandPort, C::kReadCommandByte);
  Bytes read;
  for (int i = 0; i < 4 && (status() & C::kStatusOutputFull) != 0; ++i) {
    read.push_back(controller.readPort(C::kDataPort));
    timeline.runFor(milliseconds(1));
  }
  EXPECT_EQ(read, (Bytes{0x1E, 0x47, 0x9E}));
}

TEST_F(ControllerTest, QueueBeyondItsCapacityDropsAndCounts) {
  Controller8042 small(timeline, pic, {.queueCapacity = 2});
  for (const std::uint8_t b : {0x01, 0x02, 0x03}) small.fromKeyboard(b);
  EXPECT_EQ(small.queuedBytes(), 2u);
  EXPECT_EQ(small.droppedBytes(), 1u);
}

struct IrqCase {
  const char* name;
  std::uint8_t picMask;
  std::uint8_t commandByte;
  bool raised;
};

class KeyboardInterrupt : public ControllerTest, public ::testing::WithParamInterface<IrqCase> {};

TEST_P(KeyboardInterrupt, FollowsThePicMaskAndTheCommandByte) {
  pic.writePort(Pic::kMaskPort, GetParam().picMask);
  controller.writePort(C::kCommandPort, C::kWriteCommandByte);
  controller.writePort(C::kDataPort, GetParam().commandByte);
  controller.fromKeyboard(0x1E);
  timeline.runUntilIdle();
  EXPECT_EQ(interrupts, GetParam().raised ? 1 : 0);
  EXPECT_EQ(status() & C::kStatusOutputFull, C::kStatusOutputFull);
}

INSTANTIATE_TEST_SUITE_P(Controller8042, KeyboardInterrupt,
                         ::testing::Values(IrqCase{"Enabled", 0x00, 0x47, true},
                                           IrqCase{"OtherLinesMasked", 0xFD, 0x47, true},
                                           IrqCase{"MaskedAtThePic", 0x02, 0x47, false},
                                           IrqCase{"DisabledInTheCommandByte", 0x00, 0x46, false}),
                         [](const auto& info) { return info.param.name; });

TEST_F(ControllerTest, RequestMaskedAtThePicIsDeliveredOnUnmasking) {
  pic.writePort(Pic::kMaskPort, 0x02);
  controller.fromKeyboard(0x1E);
  timeline.runUntilIdle();
  EXPECT_EQ(interrupts, 0);
  pic.writePort(Pic::kMaskPort, 0x00);
  EXPECT_EQ(interrupts, 0);  // not inside the port write
  timeline.runUntilIdle();
  EXPECT_EQ(interrupts, 1);
}

TEST_F(ControllerTest, MaskingBeforeDeliveryHoldsTheRequest) {
  controller.writePort(C::kCommandPort, C::kReadCommandByte);
  pic.writePort(Pic::kMaskPort, 0x02);
  timeline.runUntilIdle();
  EXPECT_EQ(interrupts, 0);
  pic.writePort(Pic::kMaskPort, 0x00);
  timeline.runUntilIdle();
  EXPECT_EQ(interrupts, 1);
}

TEST_F(ControllerTest, EnablingTheInterruptWithAFullBufferRaisesIt) {
  controller.writePort(C::kCommandPort, C::kWriteCommandByte);
  controller.writePort(C::kDataPort, 0x46);
  controller.fromKeyboard(0x1E);
  timeline.runUntilIdle();
  controller.writePort(C::kCommandPort, C::kWriteCommandByte);
  controller.writePort(C::kDataPort, 0x47);
  timeline.runUntilIdle();
  EXPECT_EQ(interrupts, 1);
}

}  // namespace
}  // namespace k52::sim

#include "sim/kbd8042/terminal_wire.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/kbd8042/queue_timeline.h"

namespace k52::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

// [length 3][12 34 AB] as the host writes it.
const Bytes kCommand{0xB0, 0xB0, 0xB0, 0xB3, 0xB1, 0xB2, 0xB3, 0xB4, 0xBA, 0xBB};
// Its echo as the terminal sends it.
const Bytes kEchoNibbles{0x10, 0x10, 0x10, 0x13, 0x11, 0x12, 0x13, 0x14, 0x1A, 0x1B};

Bytes frame(std::uint8_t marker, const Bytes& nibbles) {
  Bytes codes{0x64, marker};
  codes.insert(codes.end(), nibbles.begin(), nibbles.end());
  return codes;
}

struct Sent {
  Duration at;
  std::uint8_t code;
};

class TerminalWireTest : public ::testing::Test {
 protected:
  explicit TerminalWireTest(TerminalWireConfig config = {})
      : wire(
            timeline, firmware,
            [this](std::uint8_t code) {
              sent.push_back({timeline.now(), code});
            },
            config) {}

  void send(const Bytes& codes) {
    for (const std::uint8_t code : codes) wire.receive(code);
  }
  Bytes codes() const {
    Bytes out;
    for (const Sent& s : sent) out.push_back(s.code);
    return out;
  }

  QueueTimeline timeline;
  EchoFirmware firmware;
  TerminalWire wire;
  std::vector<Sent> sent;
};

TEST_F(TerminalWireTest, EchoComesBackAsAFrameOneCodePerInterval) {
  send(kCommand);
  timeline.runUntilIdle();
  EXPECT_EQ(codes(), frame(0x7F, kEchoNibbles));
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].at, milliseconds(5) + milliseconds(1) * i) << i;
  }
  EXPECT_EQ(wire.pendingAnswers(), 0u);
}

TEST_F(TerminalWireTest, AStringCutOffLongerThanTheWaitingTimeIsDropped) {
  wire.setCharacterWaitingTime(2);  // 200 ms
  const Bytes half(kCommand.begin(), kCommand.begin() + 5);
  for (const Duration gap : {milliseconds(150), milliseconds(250)}) {
    sent.clear();
    send(half);
    timeline.runFor(gap);
    send(kCommand);
    timeline.runUntilIdle();
    // Within the waiting time the halves make one garbled command; beyond
    // it the first half is forgotten and the command is answered.
    const bool forgotten = gap > milliseconds(200);
    EXPECT_EQ(codes() == frame(0x7F, kEchoNibbles), forgotten) << gap.count();
    if (!forgotten) timeline.runFor(milliseconds(300));  // let the garbled one lapse
  }
}

class OtherTiming : public TerminalWireTest {
 protected:
  OtherTiming()
      : TerminalWireTest({.processingDelay = milliseconds(20),
                          .codeInterval = milliseconds(3),
                          .frameMarker = 0xFF}) {}
};

TEST_F(OtherTiming, MarkerAndPacingFollowTheConfiguration) {
  send(kCommand);
  timeline.runUntilIdle();
  EXPECT_EQ(codes(), frame(0xFF, kEchoNibbles));
  EXPECT_EQ(sent.front().at, milliseconds(20));
  EXPECT_EQ(sent.back().at, milliseconds(20) + milliseconds(3) * (sent.size() - 1));
}

TEST_F(TerminalWireTest, AnswersLeaveInCommandOrder) {
  send(kCommand);
  send({0xB0, 0xB0, 0xB0, 0xB1, 0xB5, 0xBA});
  timeline.runUntilIdle();
  Bytes expected = frame(0x7F, kEchoNibbles);
  const Bytes second = frame(0x7F, {0x10, 0x10, 0x10, 0x11, 0x15, 0x1A});
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(codes(), expected);
}

TEST_F(TerminalWireTest, CommandsBeyondThePendingLimitAreRefused) {
  for (int i = 0; i < 6; ++i) send(kCommand);
  EXPECT_EQ(wire.pendingAnswers(), 4u);
  EXPECT_EQ(wire.refusedCommands(), 2u);
  timeline.runUntilIdle();
  EXPECT_EQ(codes().size(), 4 * frame(0x7F, kEchoNibbles).size());
}

struct FaultCase {
  const char* name;
  void (*arm)(TerminalWire&);
  Bytes expected;
};

class FrameFault : public TerminalWireTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FrameFault, ChangesTheNextFrameOnly) {
  GetParam().arm(wire);
  send(kCommand);
  send(kCommand);
  timeline.runUntilIdle();
  Bytes expected = GetParam().expected;
  const Bytes clean = frame(0x7F, kEchoNibbles);
  expected.insert(expected.end(), clean.begin(), clean.end());
  EXPECT_EQ(codes(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    TerminalWire, FrameFault,
    ::testing::Values(
        FaultCase{"TruncatedInTheLength",
                  [](TerminalWire& w) { w.truncateNextFrame(3); },
                  {0x64, 0x7F, 0x10, 0x10, 0x10}},
        FaultCase{
            "TruncatedToTheLeadIn", [](TerminalWire& w) { w.truncateNextFrame(0); }, {0x64, 0x7F}},
        FaultCase{"TruncatedBeyondItsEnd", [](TerminalWire& w) { w.truncateNextFrame(99); },
                  frame(0x7F, kEchoNibbles)},
        FaultCase{
            "KeystrokeInTheData",
            [](TerminalWire& w) { w.injectKeystrokeInNextFrame(0x1E, 5); },
            {0x64, 0x7F, 0x10, 0x10, 0x10, 0x13, 0x11, 0x1E, 0x9E, 0x12, 0x13, 0x14, 0x1A, 0x1B}},
        FaultCase{
            "KeystrokeRightAfterTheLeadIn",
            [](TerminalWire& w) { w.injectKeystrokeInNextFrame(0x3A, 0); },
            {0x64, 0x7F, 0x3A, 0xBA, 0x10, 0x10, 0x10, 0x13, 0x11, 0x12, 0x13, 0x14, 0x1A, 0x1B}},
        FaultCase{"FloodCutToTwoBytes", [](TerminalWire& w) { w.floodNextFrame(2); },
                  frame(0x7F, {0x10, 0x10, 0x10, 0x12, 0x11, 0x12, 0x13, 0x14})}),
    [](const auto& info) { return info.param.name; });

TEST_F(TerminalWireTest, FloodOverrunsAThousandEntryBuffer) {
  wire.floodNextFrame(1500);
  send(kCommand);
  timeline.runUntilIdle();
  const Bytes out = codes();
  ASSERT_EQ(out.size(), 2 + 2 * (2 + 1500u));
  // Length field 05DC, then the echoed command, then filler counting on.
  EXPECT_EQ(Bytes(out.begin() + 2, out.begin() + 6), (Bytes{0x10, 0x15, 0x1D, 0x1C}));
  EXPECT_EQ(Bytes(out.begin() + 6, out.begin() + 14),
            (Bytes{0x11, 0x12, 0x13, 0x14, 0x1A, 0x1B, 0x10, 0x13}));
  EXPECT_EQ(Bytes(out.end() - 2, out.end()), (Bytes{0x1D, 0x1B}));  // byte 1499 = 0xDB
}

TEST_F(TerminalWireTest, SilentFirmwareSendsNothing) {
  ScriptedFirmware silent;
  TerminalWire quiet(timeline, silent, [this](std::uint8_t c) {
    sent.push_back({timeline.now(), c});
  });
  for (const std::uint8_t code : kCommand) quiet.receive(code);
  timeline.runUntilIdle();
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(silent.commands(), (std::vector<Bytes>{{0x12, 0x34, 0xAB}}));
}

}  // namespace
}  // namespace k52::sim

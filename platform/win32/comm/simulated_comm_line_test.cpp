// The simulated line: character timing both ways, the device's view of the
// host's frame and lines, errors and breaks, unplugging, and waits on the
// virtual clock.
#include "platform/win32/comm/simulated_comm_line.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/win32/comm/comm.h"

namespace k52::win32 {
namespace {

using namespace std::chrono_literals;

// Answers every byte with its complement, and keeps what it saw.
struct Complementer : CommDevice {
  explicit Complementer(SimulatedCommLine& line) : line(line) {}
  void receive(std::uint8_t byte, const LineFrame& frame) override {
    arrivals.push_back(line.now());
    frames.push_back(frame);
    const std::uint8_t answer = static_cast<std::uint8_t>(~byte);
    line.send({&answer, 1});
  }
  void outputsChanged(const ModemOutputs& outputs) override { lines.push_back(outputs); }
  SimulatedCommLine& line;
  std::vector<Duration> arrivals;
  std::vector<LineFrame> frames;
  std::vector<ModemOutputs> lines;
};

struct SimulatedLineTest : ::testing::Test {
  VirtualClock clock;
  SimulatedCommLine line{clock};
  Complementer device{line};
  void SetUp() override { line.attach(&device); }
};

TEST_F(SimulatedLineTest, EachCharacterTakesItsFrameTimeBothWays) {
  // 8E2: start, 8 data, parity, 2 stop = 12 bits, 1.25 ms at 9600.
  ASSERT_TRUE(line.configure({9600, 8, EVENPARITY, TWOSTOPBITS}));
  const std::uint8_t bytes[] = {0x01, 0x02};
  ASSERT_EQ(line.write(bytes), 2u);
  while (line.inputCount() < 2) clock.advance(100us);
  EXPECT_EQ(device.arrivals, (std::vector<Duration>{1250us, 2500us}));
  // The first answer goes out at 1.25 ms and needs one character time; the
  // second queues behind it.
  EXPECT_GE(clock.now(), 3750us);
  EXPECT_LT(clock.now(), 3750us + 100us);
  std::uint8_t got[2];
  ASSERT_EQ(line.read(got), 2u);
  EXPECT_EQ(got[0], 0xFE);
  EXPECT_EQ(got[1], 0xFD);
  EXPECT_EQ(device.frames[0], (LineFrame{9600, 8, EVENPARITY, TWOSTOPBITS}));
  // 115200 8E2: 104 us a character.
  ASSERT_TRUE(line.configure({115200, 8, EVENPARITY, TWOSTOPBITS}));
  EXPECT_EQ(line.hostFrame().characterTime(), 104166ns);
}

TEST_F(SimulatedLineTest, AByteKeepsTheFrameItWasSentWith) {
  ASSERT_TRUE(line.configure({9600, 8, NOPARITY, ONESTOPBIT}));
  const std::uint8_t byte = 0x55;
  line.write({&byte, 1});
  ASSERT_TRUE(line.configure({115200, 8, NOPARITY, ONESTOPBIT}));
  while (device.frames.empty()) line.waitForInput(1ms);
  EXPECT_EQ(device.frames[0].baudRate, 9600u);
}

TEST_F(SimulatedLineTest, FlaggedBytesAndBreaksShowInTheErrors) {
  line.sendFlagged(0x11, CE_RXPARITY);
  line.send(std::vector<std::uint8_t>{0x22});
  line.sendBreak(5ms);
  clock.advance(20ms);
  EXPECT_EQ(line.takeErrors(), CE_BREAK);
  std::uint8_t got[2];
  // The flagged byte ends its read, with its error.
  ASSERT_EQ(line.read(got), 1u);
  EXPECT_EQ(got[0], 0x11);
  EXPECT_EQ(line.takeErrors(), CE_RXPARITY);
  ASSERT_EQ(line.read(got), 1u);
  EXPECT_EQ(line.takeErrors(), 0u);
}

TEST_F(SimulatedLineTest, TheDeviceSeesTheHostsLinesAndTheHostTheDevices) {
  line.setOutputs({true, false, false});
  line.setOutputs({true, false, false});
  line.setOutputs({true, true, true});
  ASSERT_EQ(device.lines.size(), 2u);
  EXPECT_TRUE(device.lines[1].breakOn);
  line.setInputs(MS_DSR_ON | MS_CTS_ON);
  EXPECT_EQ(line.modemStatus(), MS_DSR_ON | MS_CTS_ON);
}

TEST_F(SimulatedLineTest, UnpluggedNothingPassesAndTheLinesReadOff) {
  line.setInputs(MS_DSR_ON);
  const std::uint8_t byte = 0x01;
  line.write({&byte, 1});
  line.unplug();
  EXPECT_FALSE(line.connected());
  EXPECT_EQ(line.write({&byte, 1}), 0u);
  EXPECT_EQ(line.modemStatus(), 0u);
  clock.advance(10ms);
  EXPECT_EQ(line.inputCount(), 0u);
  EXPECT_TRUE(device.arrivals.empty());
}

TEST_F(SimulatedLineTest, AnEmptyWaitMovesVirtualTimeAtMostOneMillisecond) {
  EXPECT_FALSE(line.waitForInput(50ms));
  EXPECT_EQ(clock.now(), 1ms);
  EXPECT_FALSE(line.waitForInput(0ms));
  EXPECT_EQ(clock.now(), 1ms);
}

TEST_F(SimulatedLineTest, PurgesDropWhatIsQueuedInTheirDirection) {
  const std::uint8_t bytes[] = {1, 2, 3};
  line.write(bytes);
  EXPECT_EQ(line.outputCount(), 3u);
  line.purgeOutput();
  clock.advance(10ms);
  EXPECT_TRUE(device.arrivals.empty());
  line.send(bytes);
  clock.advance(10ms);
  EXPECT_EQ(line.inputCount(), 3u);
  line.purgeInput();
  EXPECT_EQ(line.inputCount(), 0u);
}

}  // namespace
}  // namespace k52::win32

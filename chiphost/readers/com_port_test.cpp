// TComPort on a simulated line: sharing, lines and DCB flags, read
// time-outs and the idle event, the flush after 998 bytes, the reset pulse,
// errors on received bytes and an unplugged line.
#include "chiphost/readers/com_port.h"

#include <gtest/gtest.h>

#include "chiphost/core/excpt.h"
#include "chiphost/readers/checksum.h"
#include "chiphost/readers/test_rig.h"

namespace k52::chiphost {
namespace {

using namespace std::chrono_literals;

// Records what the host sends and the break line.
struct Recorder : win32::CommDevice {
  explicit Recorder(win32::SimulatedCommLine& line) : line(line) { line.attach(this); }
  void receive(std::uint8_t byte, const win32::LineFrame&) override { bytes.push_back(byte); }
  void outputsChanged(const win32::ModemOutputs& o) override {
    if (o.breakOn != breakOn) breaks.push_back(line.now());
    breakOn = o.breakOn;
  }
  win32::SimulatedCommLine& line;
  std::vector<std::uint8_t> bytes;
  std::vector<Duration> breaks;
  bool breakOn = false;
};

struct ComPortTest : ::testing::Test {
  ReaderRig rig;
  Recorder device{*rig.line};
  int idleCalls = 0;
  TComPort port;
  void SetUp() override {
    port.setIdleEvent([this](bool portWait) {
      EXPECT_TRUE(portWait);
      ++idleCalls;
    });
  }
};

TEST_F(ComPortTest, ASecondObjectSharesTheHandleWithoutReapplyingAndTheLastCloses) {
  port.SetLineParams(19200, 2, 2);
  port.SetPortNumber(kRigPort);
  EXPECT_EQ(rig.line->hostFrame(), (win32::LineFrame{19200, 8, 2, 2}));
  auto second = std::make_unique<TComPort>();
  second->SetPortNumber(kRigPort);
  EXPECT_EQ(second->handle(), port.handle());
  EXPECT_EQ(port.SharedCount(), 2);
  EXPECT_EQ(rig.line->hostFrame().baudRate, 19200u);  // untouched
  port.Reopen();
  EXPECT_EQ(second->handle(), port.handle());
  EXPECT_TRUE(port.isOpen());
  port.Close();
  EXPECT_TRUE(second->WriteByte(0x42));
  second.reset();
  // The number is free again: an exclusive open succeeds.
  EXPECT_EQ(TComPort::ProbePort(kRigPort, false), 0);
  TComPort third;
  EXPECT_NO_THROW(third.SetPortNumber(kRigPort));
}

TEST_F(ComPortTest, AMissingPortRaises1001AndStaysClosed) {
  try {
    port.SetPortNumber(7);
    FAIL();
  } catch (const Excpt& e) {
    EXPECT_EQ(e.text(), "1001");
  }
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(port.portNumber(), 0);
}

TEST_F(ComPortTest, LinesFollowTheFlagsAndDsrReadsInverted) {
  port.SetPortNumber(kRigPort);
  port.SetDtr(true);
  port.SetRts(false);
  EXPECT_TRUE(rig.line->hostOutputs().dtr);
  EXPECT_FALSE(rig.line->hostOutputs().rts);
  port.SetParity(1);
  EXPECT_EQ(rig.line->hostFrame().parity, 1);
  rig.line->setInputs(win32::MS_DSR_ON);
  EXPECT_FALSE(port.GetDsrLine());
  rig.line->setInputs(0);
  EXPECT_TRUE(port.GetDsrLine());
  port.Close();
  EXPECT_FALSE(port.GetDsrLine());
}

TEST_F(ComPortTest, ReadTimeOutsHaveTheirFloorAndEveryTurnCallsTheIdleEvent) {
  port.SetPortNumber(kRigPort);
  struct Case {
    std::uint32_t asked;
    std::uint32_t waited;
  };
  for (const Case c :
       {Case{0, 0}, Case{1, 180}, Case{50, 180}, Case{179, 180}, Case{180, 180}, Case{300, 300}}) {
    idleCalls = 0;
    const std::uint32_t start = rig.clock.tickCountMs();
    std::uint8_t b;
    EXPECT_FALSE(port.ReadByte(b, c.asked));
    EXPECT_EQ(rig.clock.tickCountMs() - start, c.waited) << c.asked;
    // One turn per millisecond at most: nothing spins, nothing sleeps long.
    EXPECT_GE(idleCalls, static_cast<int>(c.waited)) << c.asked;
    EXPECT_LE(idleCalls, static_cast<int>(c.waited) + 2) << c.asked;
  }
  EXPECT_TRUE(port.errorMask() & kTimeoutMark);
}

TEST_F(ComPortTest, BytesUpdateBothChecksumsAndAFlaggedByteFailsItsRead) {
  EXPECT_EQ(rollChecksum(0, 0x01), 0x03);
  EXPECT_EQ(rollChecksum(0, 0x80), 0x00);
  port.SetPortNumber(kRigPort);
  const std::uint8_t bytes[] = {0x11, 0x22};
  rig.line->send(bytes);
  rig.line->sendFlagged(0x33, win32::CE_RXPARITY);
  std::uint8_t b = 0;
  port.rollingChecksum() = 0;
  ASSERT_TRUE(port.ReadByte(b, 100));
  ASSERT_TRUE(port.ReadByte(b, 100));
  EXPECT_EQ(port.xorSum(), 0x11 ^ 0x22);
  EXPECT_EQ(port.rollingChecksum(), rollChecksum(0, bytes));
  EXPECT_FALSE(port.ReadByte(b, 100));
  EXPECT_TRUE(port.errorMask() & win32::CE_RXPARITY);
  EXPECT_FALSE(port.errorMask() & kTimeoutMark);
}

TEST_F(ComPortTest, StoringThe998thByteFlushesAtOnce) {
  port.SetPortNumber(kRigPort);
  port.BeginBuffer();
  for (int i = 0; i < 997; ++i) ASSERT_TRUE(port.WriteByte(static_cast<std::uint8_t>(i)));
  EXPECT_EQ(rig.line->outputCount(), 0u);
  ASSERT_TRUE(port.WriteByte(0xEE));
  EXPECT_EQ(rig.line->outputCount(), 998u);
  EXPECT_TRUE(port.FlushBuffer());
  rig.clock.advance(2s);
  rig.line->run();
  ASSERT_EQ(device.bytes.size(), 998u);
  EXPECT_EQ(device.bytes.back(), 0xEE);
}

TEST_F(ComPortTest, TheResetPulseIsABreakOf60MsAndAnother60MsOfQuiet) {
  port.SetPortNumber(kRigPort);
  const Duration start = rig.clock.now();
  port.ResetPulse();
  ASSERT_EQ(device.breaks.size(), 2u);
  EXPECT_EQ(device.breaks[1] - device.breaks[0], 60ms);
  EXPECT_EQ(rig.clock.now() - start, 120ms);
}

TEST_F(ComPortTest, AnUnpluggedLineFailsWritesUntilItIsBack) {
  port.SetPortNumber(kRigPort);
  rig.line->unplug();
  EXPECT_FALSE(port.WriteByte(0x01));
  std::uint8_t b;
  EXPECT_FALSE(port.ReadByte(b, 0));
  rig.line->plug();
  EXPECT_TRUE(port.WriteByte(0x02));
  rig.clock.advance(10ms);
  rig.line->run();
  EXPECT_EQ(device.bytes, std::vector<std::uint8_t>{0x02});
}

}  // namespace
}  // namespace k52::chiphost

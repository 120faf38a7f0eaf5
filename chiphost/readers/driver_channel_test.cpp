// The driver channel: its timing frames, the absent driver, a port on the
// channel, and the restore after four quiet ticks with the baud callback,
// the timing frame, the registration for 2023 and the next generation.
#include "chiphost/readers/driver_channel.h"

#include <gtest/gtest.h>

#include "chiphost/core/excpt.h"
#include "chiphost/readers/checksum.h"
#include "chiphost/readers/com_port.h"
#include "chiphost/readers/reader_attachment.h"
#include "chiphost/readers/test_rig.h"
#include "sim/fnx/sharing_driver.h"

namespace k52::chiphost {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

TEST(TimingFrame, RatesAndTheLengthByteAbove59000) {
  const Bytes at9600 = timingFrame(9600);
  EXPECT_EQ(Bytes(at9600.begin(), at9600.end() - 1), (Bytes{0x6E, 26, 53, 0x00, 0x0E}));
  EXPECT_EQ(at9600.back(), rollChecksum(0, std::span(at9600).first(5)));
  EXPECT_EQ(timingFrame(115200), (Bytes{0x05, 0x6E, 0x02, 0x04, 0x00, 0x0E, 0xAF}));
  EXPECT_EQ(timingFrame(57600)[0], 0x6E);
  // A driver without a reported rate (0) and a negative one run as 9600.
  EXPECT_EQ(timingFrame(0), at9600);
  EXPECT_EQ(timingFrame(-1), at9600);
}

TEST(DriverRecord, TheSettingsRecordLayout) {
  const DriverRecord r = driverRecord(57600, 8, 2, 2);
  EXPECT_EQ(r[0], 32);
  EXPECT_EQ(r[4] | r[5] << 8 | r[6] << 16, 57600);
  EXPECT_EQ(r[8], 5);
  EXPECT_EQ(r[22], 8);
  EXPECT_EQ(r[23], 2);
  EXPECT_EQ(r[24], 2);
}

TEST(DriverChannel, WithoutTheDriverNothingTakesTheChannel) {
  ReaderRig rig;
  auto& channel = DriverChannel::instance();
  EXPECT_FALSE(channel.present());
  EXPECT_EQ(channel.port(), 0);
  EXPECT_EQ(channel.write(0, Bytes{1}, nullptr), -1);
  EXPECT_EQ(channel.status(), -1);
  TComPort port;
  port.setSearchFlag(true);
  port.SetPortNumber(kRigPort);
  EXPECT_FALSE(port.driverFlag());
}

struct DriverTest : ::testing::Test {
  ReaderRig rig;
  std::shared_ptr<win32::SimulatedCommLine> readerLine =
      std::make_shared<win32::SimulatedCommLine>(rig.clock);
  std::shared_ptr<sim::SharingDriver> driver =
      std::make_shared<sim::SharingDriver>(readerLine, 4, rig.clock);
  DriverChannel& channel = DriverChannel::instance();
  std::vector<int> callbacks;
  bool busy = false;

  void SetUp() override {
    win32::registerDevice("pvkms.Vxd", driver);
    channel.start([this](bool shown) { busy = shown; });
  }
  void TearDown() override {
    channel.stop();
    win32::registerDevice("pvkms.Vxd", nullptr);
  }
  void pump(Duration d) {
    const Duration end = rig.clock.now() + d;
    while (rig.clock.now() < end) {
      rig.host.idle(false);
      rig.clock.advance(1ms);
    }
  }
};

TEST_F(DriverTest, APortOpenedBySearchOnTheDriversNumberRunsOverTheChannel) {
  TComPort port;
  EXPECT_THROW(port.SetPortNumber(4), Excpt);  // no search flag: COM4 is opened directly
  EXPECT_FALSE(port.isOpen());
  port.setSearchFlag(true);
  port.SetLineParams(9600, 2, 2);
  port.SetPortNumber(4);
  EXPECT_TRUE(port.driverFlag());
  EXPECT_EQ(port.handle(), kDriverHandle);
  EXPECT_EQ(channel.driverBaud(), 9600);
  EXPECT_EQ(readerLine->hostFrame(), (win32::LineFrame{9600, 8, 2, 2}));
  EXPECT_EQ(TComPort::ProbePort(4, true), 1);
  // DSR is no line of the channel.
  EXPECT_FALSE(port.GetDsrLine());
  driver->share(100ms);
  EXPECT_TRUE(port.DriverBusy());
}

// What reaches the reader behind the driver, with the rate it came at.
struct RateRecorder : win32::CommDevice {
  void receive(std::uint8_t byte, const win32::LineFrame& frame) override {
    bytes.emplace_back(byte, frame.baudRate);
  }
  std::vector<std::pair<std::uint8_t, std::uint32_t>> bytes;
};

TEST_F(DriverTest, TheResetPulseOverTheChannelIsAZeroAt300Baud) {
  RateRecorder reader;
  readerLine->attach(&reader);
  TComPort port;
  port.setSearchFlag(true);
  port.SetLineParams(57600, 2, 2);
  port.SetPortNumber(4);
  const Duration start = rig.clock.now();
  port.ResetPulse();
  EXPECT_EQ(rig.clock.now() - start, 60ms);
  EXPECT_EQ(port.baudRate(), 57600);
  EXPECT_EQ(channel.driverBaud(), 57600);
  readerLine->run();
  ASSERT_EQ(reader.bytes.size(), 1u);
  EXPECT_EQ(reader.bytes[0], (std::pair<std::uint8_t, std::uint32_t>{0x00, 300}));
  readerLine->attach(nullptr);
}

TEST_F(DriverTest, FourQuietTicksAfterTheLastWriteRestoreTheDriver) {
  TComPort port;
  port.setSearchFlag(true);
  port.setDriverContext(0x1234);
  port.setBaudCallback([this](std::int32_t baud) { callbacks.push_back(baud); });
  port.SetPortNumber(4);
  ASSERT_TRUE(port.SendRaw(Bytes{0x69, 0x00, 0xA6}));
  EXPECT_TRUE(busy);
  EXPECT_EQ(channel.countdown(), 3);
  pump(350ms);
  EXPECT_EQ(channel.generation(), 0);
  pump(60ms);
  EXPECT_EQ(channel.generation(), 1);
  EXPECT_FALSE(busy);
  EXPECT_EQ(callbacks, std::vector<int>{38400});
  ASSERT_EQ(driver->timingFrames().size(), 1u);
  EXPECT_EQ(driver->timingFrames()[0], timingFrame(9600));
  EXPECT_EQ(driver->context(), 0x1234u);
  // Quiet from now on: no second restore, and a poll every 11th tick.
  const int polls = driver->calls(kIoPoll);
  pump(1100ms);
  EXPECT_EQ(channel.generation(), 1);
  EXPECT_EQ(driver->calls(kIoPoll), polls + 1);
}

TEST_F(DriverTest, TheReadersBytesWaitInTheDriverThroughARestore) {
  TComPort port;
  port.setSearchFlag(true);
  port.setIdleEvent([this](bool) { rig.host.idle(true); });
  port.SetPortNumber(4);
  ASSERT_TRUE(port.SendRaw(Bytes{0x01}));
  readerLine->send(Bytes{0x42});
  pump(500ms);
  EXPECT_EQ(channel.generation(), 1);
  std::uint8_t b = 0;
  ASSERT_TRUE(port.ReadByte(b, 0));
  EXPECT_EQ(b, 0x42);
}

TEST_F(DriverTest, AnFnxReaderBehindTheDriverAttachesAndOutlivesASharingPeriod) {
  sim::FnxLineDevice reader(readerLine, {.lot = 12, .serial = 34});
  ReaderAttachment card(rig.host, 4, 0);
  card.comPort().setDriverContext(0x77);
  card.Attach(0);
  EXPECT_TRUE(card.comPort().driverFlag());
  EXPECT_EQ(card.GetIdentity().lotNr, 12);
  EXPECT_EQ(card.fnx().currentSpeed(), 115200);
  pump(500ms);
  const std::uint8_t generation = channel.generation();
  EXPECT_GT(generation, 0);
  // The counter is read again after the restore: the driver had the line.
  const unsigned counterReads = reader.firmware().executions().at("counter");
  driver->share(50ms);
  EXPECT_TRUE(card.comPort().DriverBusy());
  card.SetLed(1);
  EXPECT_EQ(reader.firmware().executions().at("counter"), counterReads + 1);
  EXPECT_EQ(card.fnx().hostCounter(), reader.firmware().counter(0));
  EXPECT_FALSE(card.fnx().failed());
}

}  // namespace
}  // namespace k52::chiphost

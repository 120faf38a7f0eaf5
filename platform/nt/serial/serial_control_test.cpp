// Device controls: the reader driver's port set-up, what each request
// refuses, and the line seeing the settings.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/nt/serial/test_port_client.h"

namespace k52::nt::serial {
namespace {

class SerialControlTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(port_.openStatus(), STATUS_SUCCESS); }

  SerialRig rig_;
  PortClient port_;
};

TEST_F(SerialControlTest, ReaderSetUpIsTakenAndReadBack) {
  const SERIAL_TIMEOUTS timeouts{30, 300, 300000, 0, 5000};
  const SERIAL_CHARS chars{0, 0, 0xFF, 0, 0, 0};
  const SERIAL_HANDFLOW handflow{0, SERIAL_XOFF_CONTINUE, 0, 0};
  ASSERT_EQ(port_.set(IOCTL_SERIAL_SET_TIMEOUTS, timeouts), STATUS_SUCCESS);
  ASSERT_EQ(port_.set(IOCTL_SERIAL_SET_BAUD_RATE, SERIAL_BAUD_RATE{9600}), STATUS_SUCCESS);
  ASSERT_EQ(
      port_.set(IOCTL_SERIAL_SET_LINE_CONTROL, SERIAL_LINE_CONTROL{STOP_BITS_2, EVEN_PARITY, 8}),
      STATUS_SUCCESS);
  ASSERT_EQ(port_.set(IOCTL_SERIAL_SET_CHARS, chars), STATUS_SUCCESS);
  ASSERT_EQ(port_.set(IOCTL_SERIAL_SET_HANDFLOW, handflow), STATUS_SUCCESS);

  SERIAL_TIMEOUTS t{};
  ASSERT_EQ(port_.get(IOCTL_SERIAL_GET_TIMEOUTS, &t), STATUS_SUCCESS);
  EXPECT_EQ(std::memcmp(&t, &timeouts, sizeof t), 0);
  SERIAL_CHARS c{};
  ASSERT_EQ(port_.get(IOCTL_SERIAL_GET_CHARS, &c), STATUS_SUCCESS);
  EXPECT_EQ(std::memcmp(&c, &chars, sizeof c), 0);
  SERIAL_HANDFLOW h{};
  ASSERT_EQ(port_.get(IOCTL_SERIAL_GET_HANDFLOW, &h), STATUS_SUCCESS);
  EXPECT_EQ(std::memcmp(&h, &handflow, sizeof h), 0);
  SERIAL_BAUD_RATE b{};
  ULONG_PTR returned = 0;
  ASSERT_EQ(port_.control(IOCTL_SERIAL_GET_BAUD_RATE, nullptr, 0, &b, sizeof b, &returned),
            STATUS_SUCCESS);
  EXPECT_EQ(b.BaudRate, 9600u);
  EXPECT_EQ(returned, sizeof b);
  SERIAL_LINE_CONTROL l{};
  ASSERT_EQ(port_.get(IOCTL_SERIAL_GET_LINE_CONTROL, &l), STATUS_SUCCESS);
  EXPECT_EQ(l.WordLength, 8);
  EXPECT_EQ(l.Parity, EVEN_PARITY);
  EXPECT_EQ(l.StopBits, STOP_BITS_2);

  const LineSettings line = rig_.line().settings();
  EXPECT_EQ(line.baudRate, 9600u);
  EXPECT_EQ(line.dataBits, 8);
  EXPECT_EQ(line.parity, EVEN_PARITY);
  EXPECT_EQ(line.stopBits, STOP_BITS_2);
}

TEST_F(SerialControlTest, ShortBuffersAreRefused) {
  struct Case {
    ULONG code;
    ULONG size;  // the structure's size
    bool output;
  };
  const Case cases[] = {
      {IOCTL_SERIAL_SET_BAUD_RATE, sizeof(SERIAL_BAUD_RATE), false},
      {IOCTL_SERIAL_SET_LINE_CONTROL, sizeof(SERIAL_LINE_CONTROL), false},
      {IOCTL_SERIAL_SET_TIMEOUTS, sizeof(SERIAL_TIMEOUTS), false},
      {IOCTL_SERIAL_SET_CHARS, sizeof(SERIAL_CHARS), false},
      {IOCTL_SERIAL_SET_HANDFLOW, sizeof(SERIAL_HANDFLOW), false},
      {IOCTL_SERIAL_SET_QUEUE_SIZE, sizeof(SERIAL_QUEUE_SIZE), false},
      {IOCTL_SERIAL_PURGE, sizeof(ULONG), false},
      {IOCTL_SERIAL_GET_BAUD_RATE, sizeof(SERIAL_BAUD_RATE), true},
      {IOCTL_SERIAL_GET_LINE_CONTROL, sizeof(SERIAL_LINE_CONTROL), true},
      {IOCTL_SERIAL_GET_TIMEOUTS, sizeof(SERIAL_TIMEOUTS), true},
      {IOCTL_SERIAL_GET_CHARS, sizeof(SERIAL_CHARS), true},
      {IOCTL_SERIAL_GET_HANDFLOW, sizeof(SERIAL_HANDFLOW), true},
      {IOCTL_SERIAL_GET_COMMSTATUS, sizeof(SERIAL_STATUS), true},
  };
  std::uint8_t buffer[64] = {};
  for (const Case& c : cases) {
    const ULONG shortSize = c.size - 1;
    const NTSTATUS status = c.output ? port_.control(c.code, nullptr, 0, buffer, shortSize)
                                     : port_.control(c.code, buffer, shortSize, nullptr, 0);
    EXPECT_EQ(status, STATUS_BUFFER_TOO_SMALL) << std::hex << c.code;
  }
}

TEST_F(SerialControlTest, InvalidSettingsAreRefusedAndKeepTheOldOnes) {
  EXPECT_EQ(port_.set(IOCTL_SERIAL_SET_BAUD_RATE, SERIAL_BAUD_RATE{0}), STATUS_INVALID_PARAMETER);
  const SERIAL_LINE_CONTROL badLines[] = {
      {STOP_BIT_1, NO_PARITY, 4}, {STOP_BIT_1, NO_PARITY, 9},  {STOP_BIT_1, 5, 8},
      {3, NO_PARITY, 8},          {STOP_BITS_2, NO_PARITY, 5}, {STOP_BITS_1_5, NO_PARITY, 8},
  };
  for (const SERIAL_LINE_CONTROL& l : badLines) {
    EXPECT_EQ(port_.set(IOCTL_SERIAL_SET_LINE_CONTROL, l), STATUS_INVALID_PARAMETER)
        << int{l.StopBits} << " " << int{l.Parity} << " " << int{l.WordLength};
  }
  EXPECT_EQ(rig_.line().settings().dataBits, 8);
  EXPECT_EQ(port_.setTimeouts(MAXULONG, MAXULONG, MAXULONG), STATUS_INVALID_PARAMETER);
  const SERIAL_HANDFLOW badFlows[] = {
      {0x04, 0, 0, 0}, {0, 0x20, 0, 0}, {0, 0, -1, 0}, {0, 0, 0, kDefaultReceiveQueue + 1}};
  for (const SERIAL_HANDFLOW& h : badFlows) {
    EXPECT_EQ(port_.set(IOCTL_SERIAL_SET_HANDFLOW, h), STATUS_INVALID_PARAMETER);
  }
  EXPECT_EQ(port_.control(0x1234, nullptr, 0, nullptr, 0), STATUS_INVALID_DEVICE_REQUEST);
}

TEST(SerialDriver, LoadsOnlyWithALine) {
  Kernel kernel(std::make_unique<VirtualScheduler>(1));
  EXPECT_EQ(kernel.loadDriver(L"Serial", SerialDriverEntry), STATUS_DEVICE_CONFIGURATION_ERROR);
  EXPECT_THROW(attachLine(kPortCount, nullptr), std::out_of_range);
  attachLine(3, std::make_shared<SimulatedLine>(kernel.scheduler()));
  ASSERT_EQ(kernel.loadDriver(L"Serial", SerialDriverEntry), STATUS_SUCCESS);
  detachLines();
  EXPECT_EQ(kernel.findDevice(L"\\Device\\Serial0"), nullptr);
  EXPECT_NE(kernel.findDevice(L"\\Device\\Serial3"), nullptr);
  EXPECT_EQ(kernel.findDevice(L"\\DosDevices\\COM4"), kernel.findDevice(L"\\Device\\Serial3"));
  ASSERT_TRUE(kernel.unloadDriver(L"Serial"));
  EXPECT_EQ(kernel.findDevice(L"\\Device\\Serial3"), nullptr);
}

TEST(SerialDriver, UnloadEndsWhatIsPendingUnderAnOpenHandle) {
  Kernel kernel(std::make_unique<VirtualScheduler>(1));
  auto line = std::make_shared<SimulatedLine>(kernel.scheduler());
  attachLine(0, line);
  ASSERT_EQ(kernel.loadDriver(L"Serial", SerialDriverEntry), STATUS_SUCCESS);
  detachLines();
  PortClient port;
  ASSERT_EQ(port.setTimeouts(0, 0, 0), STATUS_SUCCESS);
  auto read = port.startRead(4);
  ASSERT_TRUE(kernel.unloadDriver(L"Serial"));
  ASSERT_TRUE(read->done());
  EXPECT_EQ(read->iosb.Status, STATUS_CANCELLED);
  EXPECT_FALSE(line->isOpen());
  EXPECT_EQ(port.startRead(4)->iosb.Status, STATUS_DEVICE_NOT_CONNECTED);
  port.close();
}

}  // namespace
}  // namespace k52::nt::serial

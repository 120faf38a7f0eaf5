// The Win32 serial calls on an attached simulated line and devices in this
// process and behind a device socket, all on the virtual clock.
#include "platform/win32/comm/comm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/win32/comm/device.h"
#include "platform/win32/comm/device_socket.h"
#include "platform/win32/comm/simulated_comm_line.h"
#include "platform/win32/messaging/user.h"
#include "platform/win32/test_temp_dir.h"

namespace k52::win32 {
namespace {

using namespace std::chrono_literals;

struct Echo : CommDevice {
  explicit Echo(SimulatedCommLine& line) : line(line) {}
  void receive(std::uint8_t byte, const LineFrame&) override { line.send({&byte, 1}); }
  SimulatedCommLine& line;
};

struct CommApiTest : ::testing::Test {
  TempDir dir;
  VirtualClock clock;
  std::shared_ptr<SimulatedCommLine> line = std::make_shared<SimulatedCommLine>(clock);
  Echo echo{*line};

  void SetUp() override {
    attach(Prefix(dir.path()), clock);
    line->attach(&echo);
    attachPort(3, line);
  }
  void TearDown() override {
    attachPort(3, nullptr);
    detach();
  }
  HANDLE open(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING, nullptr);
  }
};

TEST_F(CommApiTest, APortOpensOnceAtATime) {
  HANDLE com = open("COM3");
  ASSERT_NE(com, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SetupComm(com, 2000, 2000));
  EXPECT_EQ(open("\\\\.\\COM3"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(CloseHandle(com));
  com = open("\\\\.\\com3");
  ASSERT_NE(com, INVALID_HANDLE_VALUE);
  CloseHandle(com);
  for (const char* name : {"COM5", "COM0", "COM16", "COM03", "COMX"}) {
    EXPECT_EQ(open(name), INVALID_HANDLE_VALUE) << name;
  }
}

TEST_F(CommApiTest, TheStateSetsFrameAndLinesAndParityNeedsItsFlag) {
  HANDLE com = open("COM3");
  DCB dcb;
  dcb.BaudRate = 57600;
  dcb.ByteSize = 8;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.Flags = DCB_fBinary | DTR_CONTROL_ENABLE;
  ASSERT_TRUE(SetCommState(com, &dcb));
  EXPECT_EQ(line->hostFrame(), (LineFrame{57600, 8, NOPARITY, TWOSTOPBITS}));
  EXPECT_TRUE(line->hostOutputs().dtr);
  EXPECT_FALSE(line->hostOutputs().rts);
  dcb.Flags |= DCB_fParity | RTS_CONTROL_ENABLE;
  ASSERT_TRUE(SetCommState(com, &dcb));
  EXPECT_EQ(line->hostFrame().parity, EVENPARITY);
  EXPECT_TRUE(line->hostOutputs().rts);
  DCB back;
  ASSERT_TRUE(GetCommState(com, &back));
  EXPECT_EQ(back.BaudRate, 57600u);
  dcb.BaudRate = 0;
  EXPECT_FALSE(SetCommState(com, &dcb));
  EXPECT_TRUE(EscapeCommFunction(com, CLRDTR));
  EXPECT_TRUE(SetCommBreak(com));
  EXPECT_FALSE(line->hostOutputs().dtr);
  EXPECT_TRUE(line->hostOutputs().breakOn);
  EXPECT_TRUE(ClearCommBreak(com));
  EXPECT_FALSE(line->hostOutputs().breakOn);
  line->setInputs(MS_DSR_ON);
  DWORD modem = 0;
  EXPECT_TRUE(GetCommModemStatus(com, &modem));
  EXPECT_EQ(modem, MS_DSR_ON);
  line->unplug();
  EXPECT_FALSE(GetCommState(com, &back));
  CloseHandle(com);
}

TEST_F(CommApiTest, ReadsReturnAtOnceWithIntervalMaxdword) {
  HANDLE com = open("COM3");
  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(com, &timeouts));
  std::uint8_t byte = 0x5A;
  DWORD n = 9;
  ASSERT_TRUE(ReadFile(com, &byte, 1, &n, nullptr));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(clock.now(), Duration::zero());
  ASSERT_TRUE(WriteFile(com, &byte, 1, &n, nullptr));
  EXPECT_EQ(n, 1u);
  COMSTAT stat;
  DWORD errors = 1;
  // The echo arrives after two character times (10 bits at 9600).
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &com, FALSE, 100, QS_ALLINPUT), WAIT_OBJECT_0);
  EXPECT_GE(clock.now(), 2083us);
  EXPECT_LT(clock.now(), 3084us);
  ASSERT_TRUE(ClearCommError(com, &errors, &stat));
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(stat.cbInQue, 1u);
  std::uint8_t got = 0;
  ASSERT_TRUE(ReadFile(com, &got, 1, &n, nullptr));
  EXPECT_EQ(got, 0x5A);
  EXPECT_TRUE(PurgeComm(com, PURGE_RXCLEAR | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_TXABORT));
  CloseHandle(com);
}

TEST_F(CommApiTest, MsgWaitEndsOnTheTimeOutOrAMessage) {
  HANDLE com = open("COM3");
  const Duration start = clock.now();
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &com, FALSE, 5, QS_ALLINPUT), WAIT_TIMEOUT);
  EXPECT_EQ(clock.now() - start, 5ms);
  EXPECT_EQ(GetTickCount(), 5u);
  PostMessageA(0, WM_USER, 0, 0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &com, FALSE, 5, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &com, FALSE, 5, 0), WAIT_TIMEOUT);
  HANDLE notComm = reinterpret_cast<HANDLE>(0x1234);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &notComm, FALSE, 5, QS_ALLINPUT), WAIT_FAILED);
  CloseHandle(com);
}

// Echoes code 1's input and fails code 3.
struct Recorder : DeviceProvider {
  std::optional<std::vector<std::uint8_t>> ioControl(DWORD code, std::span<const std::uint8_t> in,
                                                     DWORD) override {
    if (code == 3) return std::nullopt;
    return std::vector<std::uint8_t>(in.begin(), in.end());
  }
};

void expectDeviceWorks(HANDLE device) {
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  std::uint8_t in[3] = {1, 2, 3};
  std::uint8_t out[8] = {};
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(device, 1, in, 3, out, 2, &returned, nullptr));
  EXPECT_EQ(returned, 2u);
  EXPECT_EQ(out[1], 2);
  EXPECT_FALSE(DeviceIoControl(device, 3, in, 3, out, 8, &returned, nullptr));
  EXPECT_EQ(returned, 0u);
  CloseHandle(device);
}

TEST_F(CommApiTest, DevicesComeFromThisProcessOrADeviceSocket) {
  auto recorder = std::make_shared<Recorder>();
  registerDevice("pvkms.Vxd", recorder);
  expectDeviceWorks(open("\\\\.\\PVKMS.VXD"));
  registerDevice("pvkms.Vxd", nullptr);
  EXPECT_EQ(open("\\\\.\\pvkms.Vxd"), INVALID_HANDLE_VALUE);

  Recorder remote;
  DeviceSocketServer server(deviceSocketPath(Prefix(dir.path()), "pvkms.Vxd"), remote);
  std::atomic<bool> stop = false;
  std::thread serving([&] {
    while (!stop) server.serveOnce(10ms);
  });
  expectDeviceWorks(open("\\\\.\\pvkms.Vxd"));
  stop = true;
  serving.join();
}

}  // namespace
}  // namespace k52::win32

// The driver on the real clock with COM1 on the slave side of a pty pair,
// configured in the prefix's registry; the test plays the far end on the
// master side.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/nt/serial/port_config.h"
#include "platform/nt/serial/test_port_client.h"
#include "platform/nt/serial/tty_line.h"
#include "platform/win32/test_temp_dir.h"

namespace k52::nt::serial {
namespace {

using namespace std::chrono_literals;

class PtyPair {
 public:
  PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    if (const char* name = ptsname(master_)) slave_ = name;
  }
  ~PtyPair() {
    if (master_ >= 0) ::close(master_);
  }

  bool ok() const { return !slave_.empty(); }
  const std::string& slavePath() const { return slave_; }

  void send(const Bytes& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What the port sent, until `count` bytes or 2 s.
  Bytes receive(std::size_t count) {
    Bytes bytes;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd fd{master_, POLLIN, 0};
      if (::poll(&fd, 1, 100) <= 0) continue;
      std::uint8_t buffer[64];
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

TEST(SerialTty, ExchangesFramesOverAPtyOnTheRealClock) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  win32::TempDir dir;
  win32::Registry(win32::Prefix(dir.path()))
      .set(win32::RootKey::LocalMachine, kPortsKey, "COM1", pty.slavePath());
  Kernel kernel(std::make_unique<RealScheduler>(), win32::Prefix(dir.path()));
  ASSERT_EQ(kernel.loadDriver(L"Serial", SerialDriverEntry), STATUS_SUCCESS);
  {
    PortClient port;
    ASSERT_EQ(port.openStatus(), STATUS_SUCCESS);
    ASSERT_EQ(port.setLine(9600, 8, EVEN_PARITY, STOP_BITS_2), STATUS_SUCCESS);
    ASSERT_EQ(port.setTimeouts(30, 0, 2000, 0, 2000), STATUS_SUCCESS);
    LARGE_INTEGER limit = relativeMs(3000);

    auto write = port.startWrite({0x00, 0x01, 0x65});
    ASSERT_TRUE(PortClient::wait(*write, &limit));
    EXPECT_EQ(write->iosb.Status, STATUS_SUCCESS);
    EXPECT_EQ(pty.receive(3), (Bytes{0x00, 0x01, 0x65}));

    pty.send({0x00, 0x02, 0x64, 0x99});
    auto answer = port.startRead(4);
    ASSERT_TRUE(PortClient::wait(*answer, &limit));
    EXPECT_EQ(answer->iosb.Status, STATUS_SUCCESS);
    EXPECT_EQ(answer->data(), (Bytes{0x00, 0x02, 0x64, 0x99}));

    // One byte, then silence: the interval time-out ends the read.
    pty.send({0x42});
    auto partial = port.startRead(8);
    ASSERT_TRUE(PortClient::wait(*partial, &limit));
    EXPECT_EQ(partial->iosb.Status, STATUS_TIMEOUT);
    EXPECT_EQ(partial->data(), (Bytes{0x42}));

    // No time-outs: the read waits until cancelled, with what came.
    ASSERT_EQ(port.setTimeouts(0, 0, 0), STATUS_SUCCESS);
    auto waiting = port.startRead(4);
    pty.send({0x17});
    LARGE_INTEGER brief = relativeMs(200);
    EXPECT_FALSE(PortClient::wait(*waiting, &brief));
    PortClient::cancel(*waiting);
    EXPECT_EQ(waiting->iosb.Status, STATUS_CANCELLED);
    EXPECT_EQ(waiting->iosb.Information, 1u);
  }
  EXPECT_TRUE(kernel.unloadDriver(L"Serial"));
}

// What the port's UART can divide its clock down to, within 1 %, and no
// other: 14400 and 28800 among them, which no termios speed code names.
TEST(SerialTty, TakesTheRatesTheUartCanRunAndRefusesOthers) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  Kernel kernel(std::make_unique<RealScheduler>());
  TtyLine line(kernel.scheduler(), pty.slavePath());
  ASSERT_TRUE(line.open([](std::span<const std::uint8_t>) {}));
  for (const ULONG baud : {115200u, 57600u, 28800u, 14400u, 9600u, 134u, 50u, 230400u}) {
    EXPECT_TRUE(line.configure(LineSettings{baud, 7, ODD_PARITY, STOP_BIT_1})) << baud;
  }
  for (const ULONG baud : {12345u, 0u}) {
    EXPECT_FALSE(line.configure(LineSettings{baud, 8, NO_PARITY, STOP_BIT_1})) << baud;
  }
  line.close();
  EXPECT_FALSE(TtyLine(kernel.scheduler(), "/nonexistent/tty").open(nullptr));
}

}  // namespace
}  // namespace k52::nt::serial

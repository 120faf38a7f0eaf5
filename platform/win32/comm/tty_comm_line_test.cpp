// A COM port on a pty: rates beyond the standard table, bytes both ways, and
// the modem lines a pty reports until its far end hangs up.
#include "platform/win32/comm/tty_comm_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/termios/termios_port.h"
#include "platform/win32/comm/comm.h"

namespace k52::win32 {
namespace {

using namespace std::chrono_literals;

struct Pty {
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) std::abort();
    slave = ptsname(master);
  }
  ~Pty() {
    if (master >= 0) close(master);
  }
  int master;
  std::string slave;
};

TEST(TtyCommLine, AnyRateBytesBothWaysAndTheHangUp) {
  Pty pty;
  auto line = TtyCommLine::open(pty.slave);
  ASSERT_TRUE(line);
  for (std::uint32_t rate : {14400u, 28800u, 115200u / 3, 9600u}) {
    ASSERT_TRUE(line->configure({rate, 8, EVENPARITY, TWOSTOPBITS})) << rate;
    const auto seen = termios::currentFrame(pty.master);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->baudRate, rate);
    EXPECT_TRUE(seen->twoStopBits);
  }
  const std::uint8_t out[] = {0x69, 0x00, 0xA6};
  EXPECT_EQ(line->write(out), 3u);
  std::uint8_t got[8];
  pollfd fd{pty.master, POLLIN, 0};
  ASSERT_EQ(poll(&fd, 1, 2000), 1);
  EXPECT_EQ(read(pty.master, got, sizeof got), 3);
  EXPECT_EQ(got[2], 0xA6);
  ASSERT_EQ(write(pty.master, "\x84\x42", 2), 2);
  ASSERT_TRUE(line->waitForInput(2s));
  EXPECT_EQ(line->read(got), 2u);
  EXPECT_EQ(got[1], 0x42);
  EXPECT_FALSE(line->waitForInput(10ms));
  EXPECT_EQ(line->modemStatus(), MS_CTS_ON | MS_DSR_ON);
  line->setOutputs({true, true, true});  // a pty takes none of these; no harm
  close(pty.master);
  pty.master = -1;
  EXPECT_FALSE(line->connected());
  EXPECT_EQ(line->modemStatus(), 0u);
}

TEST(TtyCommLine, AWaitShorterThanAMillisecondStillWaits) {
  Pty pty;
  auto line = TtyCommLine::open(pty.slave);
  ASSERT_TRUE(line);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(line->waitForInput(300us));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300us);
}

TEST(TtyCommLine, APathThatIsNoTtyDoesNotOpen) {
  EXPECT_FALSE(TtyCommLine::open("/dev/null"));
  EXPECT_FALSE(TtyCommLine::open("/nonexistent/tty"));
}

}  // namespace
}  // namespace k52::win32

// k52serial as a host sees it: started as a program, its pty slave opened
// like a serial port at 9600 baud 8E2, frames exchanged with time limits.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class K52Serial : public ::testing::Test {
 protected:
  // Starts k52serial with `args` and opens its slave as a 9600 8E2 port.
  void start(std::vector<const char*> args) {
    args.insert(args.begin(), "k52serial");
    args.push_back(nullptr);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    child_ = fork();
    ASSERT_GE(child_, 0);
    if (child_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      execv(K52SERIAL_PATH, const_cast<char* const*>(args.data()));
      _exit(127);
    }
    close(out[1]);
    std::string path;
    const auto deadline = Clock::now() + 10s;
    char c = 0;
    while (Clock::now() < deadline) {
      pollfd pfd{out[0], POLLIN, 0};
      if (poll(&pfd, 1, 100) <= 0) continue;
      if (read(out[0], &c, 1) != 1 || c == '\n') break;
      path.push_back(c);
    }
    close(out[0]);
    ASSERT_EQ(c, '\n') << "k52serial printed no slave path";

    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd_, 0) << path;
    termios tio{};
    ASSERT_EQ(tcgetattr(fd_, &tio), 0);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tio.c_cflag |= CS8 | PARENB | CSTOPB | CLOCAL | CREAD;
    tio.c_cflag &= ~PARODD;
    ASSERT_EQ(tcsetattr(fd_, TCSANOW, &tio), 0);
  }

  void TearDown() override {
    if (fd_ >= 0) close(fd_);
    if (child_ > 0) {
      kill(child_, SIGTERM);
      int status = 0;
      const auto deadline = Clock::now() + 5s;
      while (waitpid(child_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
          kill(child_, SIGKILL);
          waitpid(child_, &status, 0);
          break;
        }
        usleep(10000);
      }
    }
  }

  // Writes a frame and reads the answer frame, within 5 s.
  Bytes exchange(const Bytes& command) {
    Bytes frame{static_cast<std::uint8_t>(command.size() >> 8),
                static_cast<std::uint8_t>(command.size())};
    frame.insert(frame.end(), command.begin(), command.end());
    EXPECT_EQ(write(fd_, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    Bytes answer;
    const auto deadline = Clock::now() + 5s;
    while (Clock::now() < deadline) {
      if (answer.size() >= 2 && answer.size() == 2u + (answer[0] << 8 | answer[1])) return answer;
      pollfd pfd{fd_, POLLIN, 0};
      if (poll(&pfd, 1, 100) <= 0) continue;
      std::uint8_t buffer[256];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n > 0) answer.insert(answer.end(), buffer, buffer + n);
    }
    ADD_FAILURE() << "no complete answer";
    return answer;
  }

  pid_t child_ = -1;
  int fd_ = -1;
};

TEST_F(K52Serial, AnswersCapabilitiesStatusAndResetOverThePty) {
  ASSERT_NO_FATAL_FAILURE(start({"--purse", "1234", "--atr", "both"}));
  const Bytes capabilities = exchange({0x69});
  ASSERT_GE(capabilities.size(), 5u);
  EXPECT_EQ(capabilities[2], 0x68);
  EXPECT_EQ(capabilities[3], 0x60);
  EXPECT_EQ(capabilities[4], capabilities.size());

  EXPECT_EQ(exchange({0x65}), (Bytes{0x00, 0x05, 0x64, 0x08, 0x00, 0x00, 0x01}));
  const Bytes atr = exchange({0x62});
  ASSERT_GE(atr.size(), 4u);
  EXPECT_EQ(atr[2], 0x64);
  EXPECT_EQ(atr[3], 0x3B);
  EXPECT_EQ(exchange({0x67, 0x00, 0xB2, 0x01, 0xC4, 0x00}), (Bytes{0x00, 0x03, 0x64, 0x6A, 0x82}));
}

TEST_F(K52Serial, TakesThePinFromTheKeypad) {
  ASSERT_NO_FATAL_FAILURE(start({"--pin", "1234", "--keypad", "1234E", "--atr", "t0"}));
  ASSERT_EQ(exchange({0x62})[2], 0x64);
  EXPECT_EQ(exchange({0x67, 0x00, 0xA4, 0x04, 0x0C, 0x08, 0xD2, 0x76, 0x00, 0x00, 0x98, 0x50, 0x49,
                      0x4E}),
            (Bytes{0x00, 0x03, 0x64, 0x90, 0x00}));
  // VERIFY with a format-2 block at offset 5; the keys come 200 ms apart.
  EXPECT_EQ(exchange({0x6D, 0x52, 0x10, 0xC1, 0x00, 0x05, 0x00, 0x20, 0x00, 0x81, 0x08, 0x20, 0xFF,
                      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
            (Bytes{0x00, 0x03, 0x64, 0x90, 0x00}));
}

TEST(K52SerialHelp, PrintsUsage) {
  const std::string command = std::string(K52SERIAL_PATH) + " --help";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[128] = {};
  ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
  EXPECT_EQ(std::string(line).rfind("usage: k52serial", 0), 0u);
  EXPECT_EQ(pclose(pipe), 0);
}

}  // namespace

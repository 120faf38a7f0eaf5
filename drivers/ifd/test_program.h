// A simulator program run by a test: started with its arguments, its
// output read line by line with time limits, ended (SIGTERM, then SIGKILL)
// when the object goes. It never outlives the test process.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace k52::ifd::test {

using namespace std::chrono_literals;

class TestProgram {
 public:
  explicit TestProgram(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {  // only async-signal-safe calls until the exec
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(127);
      ::dup2(out[1], STDOUT_FILENO);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
  }
  ~TestProgram() {
    if (!ended(0ms)) {
      ::kill(pid_, SIGTERM);
      if (!ended(5s)) {
        ::kill(pid_, SIGKILL);
        ended(5s);
      }
    }
    ::close(out_);
  }
  TestProgram(const TestProgram&) = delete;
  TestProgram& operator=(const TestProgram&) = delete;

  // The next line it printed, or nullopt when none came in time.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (const auto eol = buffer_.find('\n'); eol != std::string::npos) {
        std::string line = buffer_.substr(0, eol);
        buffer_.erase(0, eol + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{out_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
        return std::nullopt;
      }
      char chunk[256];
      const ssize_t n = ::read(out_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // Whether it ended within `timeout` (and was reaped).
  bool ended(std::chrono::milliseconds timeout) {
    if (status_) return true;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = status;
        return true;
      }
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
  std::optional<int> status_;
};

}  // namespace k52::ifd::test

// k52sim run as a real process by the tests, with bounded waits on all it
// is expected to do.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace k52::sim::test {

using namespace std::chrono_literals;

class K52simProcess {
 public:
  // Starts `k52sim --prefix PREFIX ARGS...`, its stdout and stderr on a pipe.
  K52simProcess(const std::filesystem::path& prefix, std::vector<std::string> args) {
    args.insert(args.begin(), {K52SIM_PATH, "--prefix", prefix.string()});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {  // only async-signal-safe calls until the exec
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(out[1], STDERR_FILENO);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
  }
  ~K52simProcess() {
    if (pid_ > 0 && !exitStatus(0ms)) {
      ::kill(pid_, SIGTERM);
      if (!exitStatus(5s)) kill();
    }
    ::close(out_);
  }
  K52simProcess(const K52simProcess&) = delete;
  K52simProcess& operator=(const K52simProcess&) = delete;

  // The next line it printed; nullopt when none came within `timeout`.
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

  // Its exit status once it has ended within `timeout` (reaped then).
  std::optional<int> exitStatus(std::chrono::milliseconds timeout) {
    if (status_) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
      }
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(5ms);
    }
  }

  // Ends it as a crash would: the socket file stays behind.
  void kill() {
    ::kill(pid_, SIGKILL);
    exitStatus(5s);
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
  std::optional<int> status_;
};

struct K52simRun {
  std::optional<int> status;  // nullopt when it did not end within 10 s
  std::string output;         // stdout and stderr
};

// Runs a k52sim command to its end.
inline K52simRun runK52sim(const std::filesystem::path& prefix, std::vector<std::string> args) {
  K52simProcess process(prefix, std::move(args));
  K52simRun run;
  while (auto line = process.readLine()) run.output += *line + "\n";
  run.status = process.exitStatus(10s);
  return run;
}

}  // namespace k52::sim::test

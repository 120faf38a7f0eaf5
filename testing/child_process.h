// A program run by a test as a real process, with a bound on every wait.
//
// Its output goes to a pipe read line by line, or, for a program that starts
// others which may outlive it (they would hold the pipe open), to files. The
// child dies with the thread that started it, so a crashed test leaves no
// process behind; the destructor ends it with SIGTERM, then SIGKILL.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace k52::testing {

struct ChildOptions {
  // NAME=VALUE entries added to the test's environment, or, with
  // cleanEnvironment, the child's whole environment.
  std::vector<std::string> environment;
  bool cleanEnvironment = false;
  // Standard error joins standard output on the pipe (else it is the test's).
  bool captureStderr = false;
  // When set, standard output and error go to "<name>-<n>.out" and ".err"
  // files in this directory instead of a pipe.
  std::optional<std::filesystem::path> outputDir;
};

class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> argv, ChildOptions options = {}) {
    int out = -1, err = -1;
    if (options.outputDir) {
      static int serial = 0;
      const std::string stem =
          std::filesystem::path(argv.at(0)).filename().string() + "-" + std::to_string(++serial);
      outPath_ = *options.outputDir / (stem + ".out");
      errPath_ = *options.outputDir / (stem + ".err");
      out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (out < 0 || err < 0) throw std::runtime_error("cannot open the output files");
    } else {
      int pipe[2];
      if (::pipe2(pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
      pipe_ = pipe[0];
      out = pipe[1];
      if (options.captureStderr) err = out;
    }
    std::vector<std::string> env = options.environment;
    if (!options.cleanEnvironment) {
      for (char** e = environ; *e; ++e) env.emplace_back(*e);
    }
    std::vector<char*> args, envp;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {  // only async-signal-safe calls until the exec
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(127);
      ::dup2(out, STDOUT_FILENO);
      if (err >= 0) ::dup2(err, STDERR_FILENO);
      ::execve(args[0], args.data(), envp.data());
      ::_exit(127);
    }
    ::close(out);
    if (err >= 0 && err != out) ::close(err);
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      if (!wait(std::chrono::seconds(5))) kill();
    }
    if (pipe_ >= 0) ::close(pipe_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // 0 once it has been reaped.
  pid_t pid() const { return pid_; }

  // The next line it printed to the pipe; nullopt when none came in time or
  // the pipe was closed.
  std::optional<std::string> readLine(
      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (const auto eol = buffer_.find('\n'); eol != std::string::npos) {
        std::string line = buffer_.substr(0, eol);
        buffer_.erase(0, eol + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{pipe_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0) {
        return std::nullopt;
      }
      char chunk[256];
      const ssize_t n = ::read(pipe_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // What it wrote to its output files so far.
  std::string out() const { return read(outPath_); }
  std::string err() const { return read(errPath_); }

  // Whether its output file came to hold `text` within `timeout`.
  bool waitForOutput(const std::string& text,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  // Its exit status (128 + the signal when one ended it) once it has ended
  // within `timeout`; nullopt while it runs.
  std::optional<int> wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    if (status_ || pid_ <= 0) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = 0;
        return status_;
      }
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // Ends it as a crash would, and reaps it.
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    wait(std::chrono::seconds(10));
  }

 private:
  static std::string read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  pid_t pid_ = -1;
  int pipe_ = -1;
  std::string buffer_;
  std::filesystem::path outPath_, errPath_;
  std::optional<int> status_;
};

}  // namespace k52::testing

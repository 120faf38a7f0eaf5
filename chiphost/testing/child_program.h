// A program of the card server run as a real process of a test's prefix:
// its output goes to files (a server it starts inherits them, so nobody waits
// for a pipe to close), and every wait is bounded.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/messaging/user.h"

namespace k52::chiphost {

class ChildProgram {
 public:
  ChildProgram(const std::filesystem::path& program, std::vector<std::string> args,
               const std::filesystem::path& prefix, const std::filesystem::path& outputDir) {
    static int serial = 0;
    const std::string stem = program.filename().string() + "-" + std::to_string(++serial);
    outPath_ = outputDir / (stem + ".out");
    errPath_ = outputDir / (stem + ".err");
    const int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0 || err < 0) throw std::runtime_error("cannot open the output files");
    args.insert(args.begin(), program.string());
    std::vector<std::string> env{"K52_PREFIX=" + prefix.string(),
                                 "K52_PROGRAM_PATH=" + program.parent_path().string()};
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {  // only async-signal-safe calls until the exec
      ::dup2(out, STDOUT_FILENO);
      ::dup2(err, STDERR_FILENO);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(out);
    ::close(err);
  }
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;
  ~ChildProgram() {
    if (pid_ > 0) kill();
  }

  pid_t pid() const { return pid_; }

  // Its exit status, nullopt when it did not end within `timeout`.
  std::optional<int> wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
  }

  void kill() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  std::string out() const { return read(outPath_); }
  std::string err() const { return read(errPath_); }

  // Waits (bounded) until the standard output holds `text`.
  bool waitForOutput(const std::string& text,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

 private:
  static std::string read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  pid_t pid_ = -1;
  std::filesystem::path outPath_, errPath_;
};

// Ends the server of the attached prefix, if one runs (it is no child of the
// test when a client started it): killed, then waited for until its window
// is gone.
inline void killServer(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const win32::HWND server = win32::FindWindowA("CHIPHOST", nullptr);
  if (server == 0) return;
  win32::DWORD pid = 0;
  win32::GetWindowThreadProcessId(server, &pid);
  if (pid != 0) ::kill(static_cast<pid_t>(pid), SIGKILL);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (win32::IsWindow(server) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace k52::chiphost

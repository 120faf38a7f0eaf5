// A program of the card server run as a real process of a test's prefix:
// its output goes to files (a server it starts inherits them, so nobody waits
// for a pipe to close), and every wait is bounded.
#pragma once

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/messaging/user.h"
#include "testing/child_process.h"

namespace k52::chiphost {

class ChildProgram : public testing::ChildProcess {
 public:
  ChildProgram(const std::filesystem::path& program, std::vector<std::string> args,
               const std::filesystem::path& prefix, const std::filesystem::path& outputDir)
      : ChildProcess(withProgram(program, std::move(args)),
                     {.environment = {"K52_PREFIX=" + prefix.string(),
                                      "K52_PROGRAM_PATH=" + program.parent_path().string()},
                      .cleanEnvironment = true,
                      .outputDir = outputDir}) {}

 private:
  static std::vector<std::string> withProgram(const std::filesystem::path& program,
                                              std::vector<std::string> args) {
    args.insert(args.begin(), program.string());
    return args;
  }
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

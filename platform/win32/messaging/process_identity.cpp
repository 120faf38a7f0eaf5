#include "platform/win32/messaging/process_identity.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

namespace k52::win32 {
namespace {

// The start time of a process that runs; a zombie counts as gone.
std::optional<std::uint64_t> startTimeOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return std::nullopt;
  // The command name in parentheses may hold spaces; fields count from its end.
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  // Field 3 (state) is the first after the name; the start time is field 22.
  if (!(fields >> field) || field == "Z" || field == "X") return std::nullopt;
  for (int i = 4; i <= 22; ++i) {
    if (!(fields >> field)) return std::nullopt;
  }
  try {
    return std::stoull(field);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace

ProcessIdentity ProcessIdentity::self() {
  const pid_t pid = ::getpid();
  return {pid, startTimeOf(pid).value_or(0)};
}

std::optional<ProcessIdentity> ProcessIdentity::of(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  auto start = startTimeOf(pid);
  if (!start) return std::nullopt;
  return ProcessIdentity{pid, *start};
}

bool ProcessIdentity::alive() const {
  if (pid <= 0) return false;
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  auto now = of(pid);
  return now && now->startTime == startTime;
}

std::optional<pid_t> processOfThread(std::uint32_t tid) {
  std::ifstream in("/proc/" + std::to_string(tid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Tgid:", 0) == 0) {
      try {
        return static_cast<pid_t>(std::stol(line.substr(5)));
      } catch (...) {
        return std::nullopt;
      }
    }
  }
  return std::nullopt;
}

std::uint32_t currentThreadId() {
  return static_cast<std::uint32_t>(::gettid());
}

}  // namespace k52::win32

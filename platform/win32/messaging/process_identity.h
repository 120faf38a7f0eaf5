// Who owns an object of the prefix: a process id together with the process's
// start time, so that a process id reused after a crash is not mistaken for
// the dead owner.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

namespace k52::win32 {

struct ProcessIdentity {
  pid_t pid = 0;
  std::uint64_t startTime = 0;  // clock ticks since boot, from /proc/<pid>/stat

  static ProcessIdentity self();
  // The identity of a running process, nullopt when there is none.
  static std::optional<ProcessIdentity> of(pid_t pid);

  bool alive() const;
  bool operator==(const ProcessIdentity&) const = default;
};

// The process that a thread id of this machine belongs to, nullopt when no
// such thread runs.
std::optional<pid_t> processOfThread(std::uint32_t tid);

// The calling thread's id (the one GetCurrentThreadId reports).
std::uint32_t currentThreadId();

}  // namespace k52::win32

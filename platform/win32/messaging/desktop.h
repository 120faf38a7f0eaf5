// The state of one process attached to a prefix: its window classes, its
// windows, the message queues of its threads and the socket on which other
// threads and processes reach its windows.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/clock/clock.h"
#include "platform/win32/messaging/thread_queue.h"
#include "platform/win32/messaging/unix_socket.h"
#include "platform/win32/messaging/window_registry.h"
#include "platform/win32/prefix.h"

namespace k52::win32 {

struct WindowClass {
  std::string name;
  WNDPROC proc = nullptr;
};

struct LocalWindow {
  WNDPROC proc = nullptr;
  WindowEntry entry;
};

class Desktop {
 public:
  Desktop(Prefix prefix, Clock& clock);
  ~Desktop();
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  const Prefix& prefix() const { return prefix_; }
  Clock& clock() const { return clock_; }
  WindowRegistry& registry() { return registry_; }
  const ProcessIdentity& self() const { return self_; }

  // Classes and windows of this process; guarded by mutex().
  std::mutex& mutex() { return mutex_; }
  std::map<std::string, WindowClass>& classes() { return classes_; }
  std::map<HWND, LocalWindow>& windows() { return windows_; }
  std::optional<LocalWindow> localWindow(HWND hwnd);

  // The queue of a thread of this process, made at first use.
  std::shared_ptr<ThreadQueue> queueOf(DWORD tid);

  // Where the process `pid` of this prefix listens.
  std::filesystem::path socketOf(pid_t pid) const;

 private:
  void listen();
  void serve(Fd connection);

  Prefix prefix_;
  Clock& clock_;
  WindowRegistry registry_;
  ProcessIdentity self_;
  std::mutex mutex_;
  std::map<std::string, WindowClass> classes_;
  std::map<HWND, LocalWindow> windows_;
  std::map<DWORD, std::shared_ptr<ThreadQueue>> queues_;
  Fd listener_;
  std::thread listenThread_;
};

// The attachment of this process; made from the environment when there is
// none or when this process is a fork of the one that made it.
Desktop& desktop();
void replaceDesktop(std::unique_ptr<Desktop> next);

// Class names compare case-insensitively.
std::string classKey(std::string_view name);

}  // namespace k52::win32

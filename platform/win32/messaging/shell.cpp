// Starting programs, message boxes and system parameters, for a server that
// runs in the background without a display.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/messaging/command_line.h"
#include "platform/win32/messaging/desktop.h"
#include "platform/win32/messaging/kernel.h"
#include "platform/win32/messaging/user.h"

namespace k52::win32 {
namespace {

constexpr UINT kStarted = 33;
constexpr UINT SPI_SETSCREENSAVERRUNNING = 97;

// This process's environment with K52_PREFIX naming `prefixRoot`.
std::vector<std::string> environmentFor(const std::string& prefixRoot) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "K52_PREFIX=", 11) != 0) env.emplace_back(*e);
  }
  env.push_back("K52_PREFIX=" + prefixRoot);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Runs `args` in a grandchild, so nobody has to wait for it, and tells
// whether the exec itself worked (through a pipe that the exec closes).
// Between fork and exec only async-signal-safe calls: other threads of this
// process may hold the allocator's locks.
bool spawnDetached(std::vector<std::string> args, const std::string& prefixRoot) {
  auto env = environmentFor(prefixRoot);
  auto argv = pointers(args);
  auto envp = pointers(env);
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;

  const pid_t child = ::fork();
  if (child < 0) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return false;
  }
  if (child == 0) {
    ::close(pipeFds[0]);
    ::setsid();
    if (::fork() == 0) {
      ::execve(argv[0], argv.data(), envp.data());
      const int error = errno;
      [[maybe_unused]] auto n = ::write(pipeFds[1], &error, sizeof error);
      ::_exit(127);
    }
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t n;
  while ((n = ::read(pipeFds[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(pipeFds[0]);
  return n == 0;  // closed by a successful exec
}

}  // namespace

UINT WinExec(LPCSTR commandLine, UINT) {
  if (commandLine == nullptr) return ERROR_FILE_NOT_FOUND;
  auto words = splitCommandLine(commandLine);
  if (words.empty()) return ERROR_FILE_NOT_FOUND;
  const Prefix& prefix = desktop().prefix();
  auto program = findProgram(words.front(), prefix);
  if (!program) return ERROR_FILE_NOT_FOUND;
  words.front() = program->string();
  return spawnDetached(std::move(words), prefix.root().string()) ? kStarted : ERROR_FILE_NOT_FOUND;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
  std::fprintf(stderr, "MessageBox [%s] %s\n", caption ? caption : "", text ? text : "");
  return IDOK;
}

BOOL SystemParametersInfoA(UINT action, UINT uiParam, LPVOID, UINT) {
  if (action != SPI_SETSCREENSAVERRUNNING) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  std::fprintf(stderr, "SystemParametersInfoA(%u, %u) ignored: no screen saver here\n", action,
               uiParam);
  return TRUE;
}

}  // namespace k52::win32

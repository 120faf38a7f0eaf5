// Starting programs, message boxes and system parameters, for a server that
// runs in the background without a display.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/win32/messaging/command_line.h"
#include "platform/win32/messaging/desktop.h"
#include "platform/win32/messaging/kernel.h"
#include "platform/win32/messaging/user.h"

namespace k52::win32 {
namespace {

constexpr UINT kStarted = 33;
constexpr UINT SPI_SETSCREENSAVERRUNNING = 97;

// Runs `argv` in a grandchild, so nobody has to wait for it, and tells
// whether the exec itself worked (through a pipe that the exec closes).
bool spawnDetached(const std::vector<std::string>& args, const std::string& prefixRoot) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

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
      ::setenv("K52_PREFIX", prefixRoot.c_str(), 1);
      ::execv(argv[0], argv.data());
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
  return spawnDetached(words, prefix.root().string()) ? kStarted : ERROR_FILE_NOT_FOUND;
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

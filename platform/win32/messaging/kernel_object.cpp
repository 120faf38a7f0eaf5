#include "platform/win32/messaging/kernel_object.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

#include "platform/win32/messaging/kernel.h"

namespace k52::win32 {
namespace {

std::mutex tableMutex;
std::map<HANDLE, std::unique_ptr<KernelObject>>& table() {
  static auto* handles = new std::map<HANDLE, std::unique_ptr<KernelObject>>;
  return *handles;
}

thread_local DWORD lastError = ERROR_SUCCESS;

// Held while named files are opened or let go, so that a file is never
// deleted between another process's open and its lock.
class DirLock {
 public:
  explicit DirLock(const std::filesystem::path& dir)
      : fd_(::open((dir / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_) ::flock(fd_.get(), LOCK_EX);
  }
  explicit operator bool() const { return static_cast<bool>(fd_); }

 private:
  Fd fd_;  // closing releases the lock
};

}  // namespace

DWORD GetLastError() {
  return lastError;
}
void SetLastError(DWORD error) {
  lastError = error;
}

namespace {

std::mutex openersMutex;
std::vector<FileOpener>& openers() {
  static auto* list = new std::vector<FileOpener>;
  return *list;
}

}  // namespace

void addFileOpener(FileOpener opener) {
  std::lock_guard lock(openersMutex);
  openers().push_back(std::move(opener));
}

std::optional<HANDLE> openByFileOpeners(LPCSTR name, DWORD access, DWORD shareMode, DWORD flags) {
  std::vector<FileOpener> list;
  {
    std::lock_guard lock(openersMutex);
    list = openers();
  }
  for (const auto& opener : list) {
    if (auto handle = opener(name, access, shareMode, flags)) return handle;
  }
  return std::nullopt;
}

HANDLE addHandle(std::unique_ptr<KernelObject> object) {
  std::lock_guard lock(tableMutex);
  HANDLE handle = object.get();
  table().emplace(handle, std::move(object));
  return handle;
}

bool closeHandle(HANDLE handle) {
  std::unique_ptr<KernelObject> object;
  {
    std::lock_guard lock(tableMutex);
    auto it = table().find(handle);
    if (it == table().end()) return false;
    object = std::move(it->second);
    table().erase(it);
  }
  return true;
}

KernelObject* lookupHandle(HANDLE handle) {
  std::lock_guard lock(tableMutex);
  auto it = table().find(handle);
  return it == table().end() ? nullptr : it->second.get();
}

BOOL CloseHandle(HANDLE handle) {
  if (!closeHandle(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

std::string objectFileName(std::string_view name) {
  std::string out;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '.' || c == '-' || c == '_') {
      out += static_cast<char>(std::toupper(u));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", u);
      out += hex;
    }
  }
  // Names that only differ beyond what a file name can hold are not told apart.
  return out.substr(0, 200);
}

std::unique_ptr<NamedFile> NamedFile::open(const std::filesystem::path& path, Open how,
                                           const std::function<bool(int fd)>& prepare,
                                           bool& created) {
  created = false;
  DirLock dirLock(path.parent_path());
  if (!dirLock) return nullptr;
  const int flags = O_RDWR | O_CLOEXEC | (how == Open::CreateOrExisting ? O_CREAT : 0);
  Fd fd(::open(path.c_str(), flags, 0600));
  if (!fd) return nullptr;
  // Nobody holding the file means its holders died: it is not there any more.
  const bool abandoned = ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
  if (abandoned && how == Open::Existing) {
    ::unlink(path.c_str());
    errno = ENOENT;
    return nullptr;
  }
  if (abandoned) {
    if (::ftruncate(fd.get(), 0) != 0 || !prepare(fd.get())) {
      ::unlink(path.c_str());
      return nullptr;
    }
    created = true;
  }
  ::flock(fd.get(), LOCK_SH);
  return std::unique_ptr<NamedFile>(new NamedFile(path, std::move(fd)));
}

NamedFile::~NamedFile() {
  DirLock dirLock(path_.parent_path());
  if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) ::unlink(path_.c_str());
}

}  // namespace k52::win32

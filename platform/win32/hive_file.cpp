#include "platform/win32/internal/hive_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>

#include "platform/win32/internal/reg_file.h"

namespace k52::win32 {

namespace {

std::filesystem::path withSuffix(const std::filesystem::path& file, const char* suffix) {
  std::filesystem::path result = file;
  result += suffix;
  return result;
}

RegistryError systemFault(const std::string& what, const std::filesystem::path& file, int error) {
  return RegistryError(what + " " + file.string() + ": " + std::strerror(error));
}

int openLockFile(const std::filesystem::path& hive) {
  int fd;
  do {
    fd = ::open(withSuffix(hive, ".lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool lockFile(int fd, int operation) {
  int rc;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

void writeAll(int fd, std::string_view data, const std::filesystem::path& file) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw systemFault("cannot write", file, errno);
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Makes the rename itself durable.
void syncDirectory(const std::filesystem::path& dir) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

HiveLock HiveLock::shared(const std::filesystem::path& hive) {
  const int fd = openLockFile(hive);
  if (fd >= 0 && !lockFile(fd, LOCK_SH)) {
    const int error = errno;
    ::close(fd);
    throw systemFault("cannot lock", withSuffix(hive, ".lock"), error);
  }
  return HiveLock(fd);
}

HiveLock HiveLock::exclusive(const std::filesystem::path& hive) {
  const std::filesystem::path dir = hive.parent_path();
  std::error_code error;
  if (!dir.empty()) std::filesystem::create_directories(dir, error);
  if (error) throw RegistryError("cannot create " + dir.string() + ": " + error.message());
  const int fd = openLockFile(hive);
  if (fd < 0) throw systemFault("cannot open", withSuffix(hive, ".lock"), errno);
  if (!lockFile(fd, LOCK_EX)) {
    const int lockError = errno;
    ::close(fd);
    throw systemFault("cannot lock", withSuffix(hive, ".lock"), lockError);
  }
  return HiveLock(fd);
}

HiveLock::HiveLock(HiveLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

HiveLock::~HiveLock() {
  // Closing the only descriptor of the open file releases the flock.
  if (fd_ >= 0) ::close(fd_);
}

Hive loadHive(const std::filesystem::path& file, RootKey root) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Hive(root);
    throw systemFault("cannot read", file, errno);
  }
  std::string text;
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      throw systemFault("cannot read", file, error);
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return parseHive(text, root, file.string());
}

void saveHive(const std::filesystem::path& file, const Hive& hive) {
  // One fixed name suffices: only the holder of the exclusive lock writes it.
  const std::filesystem::path temporary = withSuffix(file, ".tmp");
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) throw systemFault("cannot create", temporary, errno);
  try {
    writeAll(fd, formatRegText(hive, ""), temporary);
    if (::fsync(fd) != 0) throw systemFault("cannot sync", temporary, errno);
  } catch (...) {
    ::close(fd);
    ::unlink(temporary.c_str());
    throw;
  }
  if (::close(fd) != 0 || ::rename(temporary.c_str(), file.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw systemFault("cannot replace", file, error);
  }
  syncDirectory(file.parent_path());
}

}  // namespace k52::win32

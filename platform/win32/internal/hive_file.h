// A hive file on disk: its lock, reading it, and replacing it atomically.
#pragma once

#include <filesystem>

#include "platform/win32/internal/hive.h"

namespace k52::win32 {

// A hold on "<hive>.lock", which every reader takes shared and every writer
// exclusive. flock, not fcntl locks: those would be dropped when any other
// descriptor of the file in this process is closed.
class HiveLock {
 public:
  // Without a lock file (a read-only or not yet created prefix) the hold is
  // empty: hives are replaced by rename, so a reader still sees whole files.
  static HiveLock shared(const std::filesystem::path& hive);

  // Creates the prefix directory when needed; throws RegistryError when the
  // lock cannot be had.
  static HiveLock exclusive(const std::filesystem::path& hive);

  HiveLock(HiveLock&& other) noexcept;
  HiveLock& operator=(HiveLock&&) = delete;
  ~HiveLock();

 private:
  explicit HiveLock(int fd) : fd_(fd) {}
  int fd_;
};

// The hive a file holds; an empty hive when the file does not exist. Throws
// RegistryError when it cannot be read or is malformed.
Hive loadHive(const std::filesystem::path& file, RootKey root);

// Replaces the file with the hive's text: a temporary file in the same
// directory, synced, then renamed over it, so no reader or crash ever sees a
// partial hive. The caller holds the exclusive lock.
void saveHive(const std::filesystem::path& file, const Hive& hive);

}  // namespace k52::win32

// Small helpers around Unix-domain sockets at paths of the prefix.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>

namespace k52::win32 {

// A descriptor that closes itself.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release();

 private:
  int fd_ = -1;
};

// A socket of `type` bound to `path`; an empty Fd with errno set on failure
// (ENAMETOOLONG for a path that does not fit a socket address).
Fd bindSocket(const std::filesystem::path& path, int type);
// A socket of `type` connected to `path`; an empty Fd with errno set.
Fd connectSocket(const std::filesystem::path& path, int type);

// Whole-buffer transfers; false on error, end of stream or time-out.
bool writeAll(int fd, const void* data, std::size_t size);
bool readExactly(int fd, void* data, std::size_t size);
// Sets send and receive time-outs of a socket.
void setSocketTimeouts(int fd, int milliseconds);

}  // namespace k52::win32

#include "platform/win32/messaging/unix_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace k52::win32 {
namespace {

bool addressOf(const std::filesystem::path& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  const std::string& text = path.native();
  if (text.size() >= sizeof addr.sun_path) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(addr.sun_path, text.data(), text.size());
  return true;
}

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

int Fd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

Fd bindSocket(const std::filesystem::path& path, int type) {
  sockaddr_un addr;
  if (!addressOf(path, addr)) return Fd();
  Fd fd(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
  if (!fd) return fd;
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return Fd();
  return fd;
}

Fd connectSocket(const std::filesystem::path& path, int type) {
  sockaddr_un addr;
  if (!addressOf(path, addr)) return Fd();
  Fd fd(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
  if (!fd) return fd;
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return Fd();
  return fd;
}

bool writeAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool readExactly(int fd, void* data, std::size_t size) {
  auto* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::recv(fd, p, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void setSocketTimeouts(int fd, int milliseconds) {
  timeval tv{milliseconds / 1000, (milliseconds % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

}  // namespace k52::win32

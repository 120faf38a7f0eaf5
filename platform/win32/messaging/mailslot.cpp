// Mailslots as datagram sockets: a datagram keeps a message whole, and a
// socket whose process died refuses connections, which tells a live mailslot
// from a left-over one.
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/messaging/desktop.h"
#include "platform/win32/messaging/kernel.h"
#include "platform/win32/messaging/kernel_object.h"

namespace k52::win32 {
namespace {

constexpr std::string_view kMailslotPrefix = "\\\\.\\mailslot\\";
constexpr DWORD kMaxWrite = 0x10000;

class MailslotReader : public KernelObject {
 public:
  MailslotReader(Fd fd, std::filesystem::path path, DWORD maxSize, DWORD timeoutMs)
      : fd_(std::move(fd)), path_(std::move(path)), maxSize_(maxSize), timeoutMs_(timeoutMs) {}
  ~MailslotReader() override {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  BOOL read(void* buffer, DWORD size, DWORD* read);

 private:
  Fd fd_;
  std::filesystem::path path_;
  DWORD maxSize_;
  DWORD timeoutMs_;
};

class MailslotWriter : public KernelObject {
 public:
  explicit MailslotWriter(Fd fd) : fd_(std::move(fd)) {}
  BOOL write(const void* buffer, DWORD size, DWORD* written);

 private:
  Fd fd_;
};

// The socket path of a mailslot name, or nullopt for a name that is none.
std::optional<std::filesystem::path> mailslotPath(LPCSTR name) {
  if (name == nullptr) return std::nullopt;
  std::string_view text(name);
  if (text.size() <= kMailslotPrefix.size()) return std::nullopt;
  for (std::size_t i = 0; i < kMailslotPrefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != kMailslotPrefix[i])
      return std::nullopt;
  }
  const auto dir = desktop().prefix().runDir() / "mailslots";
  std::filesystem::create_directories(dir);
  return dir / objectFileName(text.substr(kMailslotPrefix.size()));
}

BOOL MailslotReader::read(void* buffer, DWORD size, DWORD* read) {
  if (read) *read = 0;
  for (;;) {
    pollfd p{fd_.get(), POLLIN, 0};
    const int wait = timeoutMs_ == MAILSLOT_WAIT_FOREVER ? -1 : static_cast<int>(timeoutMs_);
    const int ready = ::poll(&p, 1, wait);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      SetLastError(ERROR_SEM_TIMEOUT);
      return FALSE;
    }
    const ssize_t length = ::recv(fd_.get(), nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    if (length < 0) {
      SetLastError(ERROR_SEM_TIMEOUT);
      return FALSE;
    }
    if (maxSize_ != 0 && static_cast<std::size_t>(length) > maxSize_) {
      ::recv(fd_.get(), nullptr, 0, MSG_DONTWAIT);  // too long for this mailslot: dropped
      continue;
    }
    if (static_cast<std::size_t>(length) > size || (length > 0 && buffer == nullptr)) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    const ssize_t n = ::recv(fd_.get(), buffer, size, MSG_DONTWAIT);
    if (n < 0) {
      SetLastError(ERROR_SEM_TIMEOUT);
      return FALSE;
    }
    if (read) *read = static_cast<DWORD>(n);
    return TRUE;
  }
}

BOOL MailslotWriter::write(const void* buffer, DWORD size, DWORD* written) {
  if (written) *written = 0;
  if (size > kMaxWrite || (size > 0 && buffer == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (::send(fd_.get(), buffer, size, MSG_DONTWAIT | MSG_NOSIGNAL) != static_cast<ssize_t>(size)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (written) *written = size;
  return TRUE;
}

}  // namespace

HANDLE CreateMailslotA(LPCSTR name, DWORD maxMessageSize, DWORD readTimeoutMs, void*) {
  auto path = mailslotPath(name);
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  Fd fd = bindSocket(*path, SOCK_DGRAM);
  if (!fd && errno == EADDRINUSE) {
    if (connectSocket(*path, SOCK_DGRAM)) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return INVALID_HANDLE_VALUE;
    }
    std::error_code ignored;  // the mailslot of a process that died
    std::filesystem::remove(*path, ignored);
    fd = bindSocket(*path, SOCK_DGRAM);
  }
  if (!fd) {
    SetLastError(errno == EADDRINUSE ? ERROR_ALREADY_EXISTS : ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return addHandle(
      std::make_unique<MailslotReader>(std::move(fd), *path, maxMessageSize, readTimeoutMs));
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, void*, DWORD, DWORD flags, HANDLE) {
  if (name != nullptr) {
    if (auto handle = openByFileOpeners(name, access, shareMode, flags)) return *handle;
  }
  auto path = mailslotPath(name);
  if (!path || (access & GENERIC_WRITE) == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  Fd fd = connectSocket(*path, SOCK_DGRAM);
  if (!fd) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return addHandle(std::make_unique<MailslotWriter>(std::move(fd)));
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD size, DWORD* read, void*) {
  if (auto* file = dynamic_cast<FileObject*>(lookupHandle(handle))) {
    return file->read(buffer, size, read);
  }
  auto* reader = objectOf<MailslotReader>(handle);
  return reader ? reader->read(buffer, size, read) : FALSE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD size, DWORD* written, void*) {
  if (auto* file = dynamic_cast<FileObject*>(lookupHandle(handle))) {
    return file->write(buffer, size, written);
  }
  auto* writer = objectOf<MailslotWriter>(handle);
  return writer ? writer->write(buffer, size, written) : FALSE;
}

}  // namespace k52::win32

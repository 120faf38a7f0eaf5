// Named page-file mappings as files under run/objects/, mapped shared.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "platform/win32/messaging/desktop.h"
#include "platform/win32/messaging/kernel.h"
#include "platform/win32/messaging/kernel_object.h"

namespace k52::win32 {
namespace {

class FileMapping : public KernelObject {
 public:
  explicit FileMapping(std::unique_ptr<NamedFile> file) : file_(std::move(file)) {}
  int fd() const { return file_->fd(); }

 private:
  std::unique_ptr<NamedFile> file_;
};

std::mutex viewsMutex;
std::map<const void*, std::size_t>& views() {
  static auto* all = new std::map<const void*, std::size_t>;
  return *all;
}

std::filesystem::path mappingPath(LPCSTR name) {
  const auto dir = desktop().prefix().runDir() / "objects";
  std::filesystem::create_directories(dir);
  return dir / (objectFileName(name) + ".map");
}

HANDLE openMapping(LPCSTR name, NamedFile::Open how, std::size_t size) {
  bool created = false;
  auto grow = [size](int fd) { return ::ftruncate(fd, static_cast<off_t>(size)) == 0; };
  auto file = NamedFile::open(mappingPath(name), how, grow, created);
  if (!file) {
    SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  struct stat st;
  if (::fstat(file->fd(), &st) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (static_cast<std::size_t>(st.st_size) < size &&
      ::ftruncate(file->fd(), static_cast<off_t>(size)) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HANDLE handle = addHandle(std::make_unique<FileMapping>(std::move(file)));
  SetLastError(created || how == NamedFile::Open::Existing ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
  return handle;
}

}  // namespace

HANDLE CreateFileMappingA(HANDLE file, void*, DWORD, DWORD sizeHigh, DWORD sizeLow, LPCSTR name) {
  if (file != INVALID_HANDLE_VALUE || name == nullptr || sizeHigh != 0 || sizeLow == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return openMapping(name, NamedFile::Open::CreateOrExisting, sizeLow);
}

HANDLE OpenFileMappingA(DWORD, BOOL, LPCSTR name) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return openMapping(name, NamedFile::Open::Existing, 0);
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD, DWORD offsetHigh, DWORD offsetLow, std::size_t bytes) {
  auto* object = objectOf<FileMapping>(mapping);
  if (object == nullptr) return nullptr;
  struct stat st;
  if (offsetHigh != 0 || ::fstat(object->fd(), &st) != 0 ||
      offsetLow % static_cast<DWORD>(::sysconf(_SC_PAGESIZE)) != 0 || offsetLow >= st.st_size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::size_t available = static_cast<std::size_t>(st.st_size) - offsetLow;
  if (bytes == 0) bytes = available;
  if (bytes > available) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* view = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, object->fd(), offsetLow);
  if (view == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard lock(viewsMutex);
  views()[view] = bytes;
  return view;
}

BOOL UnmapViewOfFile(LPCVOID view) {
  std::size_t size = 0;
  {
    std::lock_guard lock(viewsMutex);
    auto it = views().find(view);
    if (it == views().end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    size = it->second;
    views().erase(it);
  }
  ::munmap(const_cast<void*>(view), size);
  return TRUE;
}

}  // namespace k52::win32

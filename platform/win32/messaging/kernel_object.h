// What a kernel HANDLE stands for, the table of this process's handles and
// the files behind named objects.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win32/messaging/kernel.h"
#include "platform/win32/messaging/types.h"
#include "platform/win32/messaging/unix_socket.h"

namespace k52::win32 {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

// An object that ReadFile and WriteFile serve other than a mailslot (a COM
// port of platform/win32/comm).
class FileObject : public KernelObject {
 public:
  virtual BOOL read(LPVOID buffer, DWORD size, DWORD* read) = 0;
  virtual BOOL write(LPCVOID buffer, DWORD size, DWORD* written) = 0;
};

// Another module's names for CreateFileA: returns nullopt for a name it does
// not serve, else the handle (or INVALID_HANDLE_VALUE with the last error
// set). Openers are asked in the order they were added, before mailslots.
using FileOpener =
    std::function<std::optional<HANDLE>(LPCSTR name, DWORD access, DWORD shareMode, DWORD flags)>;
void addFileOpener(FileOpener opener);
std::optional<HANDLE> openByFileOpeners(LPCSTR name, DWORD access, DWORD shareMode, DWORD flags);

// Hands out a handle for `object`; the table owns it until closeHandle.
HANDLE addHandle(std::unique_ptr<KernelObject> object);
bool closeHandle(HANDLE handle);
// The object behind `handle` when it is of type T; else nullptr with
// ERROR_INVALID_HANDLE set. The object stays alive while `handle` is open.
template <typename T>
T* objectOf(HANDLE handle);
KernelObject* lookupHandle(HANDLE handle);

template <typename T>
T* objectOf(HANDLE handle) {
  auto* object = dynamic_cast<T*>(lookupHandle(handle));
  if (object == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

// A file name for an object name: upper case, with every character other than
// letters, digits, '.', '-' and '_' written as '%XX'; "\\.\mailslot\" is
// dropped from mailslot names by the caller.
std::string objectFileName(std::string_view name);

// A file of a named mapping or event, held open with a shared lock for as
// long as this object lives; the last holder to let go deletes it.
class NamedFile {
 public:
  enum class Open { Existing, CreateOrExisting };
  // Opens the file at `path` under the lock of its directory. A new file (or
  // a crashed holder's left-over, which is emptied first) is handed to
  // `prepare` before anyone else can open it, and `created` is set. Empty
  // (errno set) on failure; ENOENT for Existing and no file.
  static std::unique_ptr<NamedFile> open(const std::filesystem::path& path, Open how,
                                         const std::function<bool(int fd)>& prepare, bool& created);
  ~NamedFile();

  int fd() const { return fd_.get(); }

 private:
  NamedFile(std::filesystem::path path, Fd fd) : path_(std::move(path)), fd_(std::move(fd)) {}
  std::filesystem::path path_;
  Fd fd_;
};

}  // namespace k52::win32

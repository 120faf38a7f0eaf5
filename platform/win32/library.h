// Loading a library by its Windows module name.
//
// Search rule for a name such as "TRCHOOK" (or "TRCHOOK.DLL"; the extension is
// dropped, and a name with a path separator is taken as a file path):
//   1. lib<NAME>.so and <NAME>.so in the directories of $K52_LIBRARY_PATH
//      (colon-separated), in order;
//   2. the same file names in <prefix>/drive_c/windows/system32 and
//      <prefix>/drive_c/windows;
//   3. lib<NAME>.so through the dynamic loader's own search (LD_LIBRARY_PATH,
//      the system directories).
// At each place the exact spelling is tried first, then all lower case.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/win32/prefix.h"

namespace k52::win32 {

class Library {
 public:
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // The loaded library, or nullptr when none of the places holds it.
  static std::unique_ptr<Library> load(std::string_view moduleName, const Prefix& prefix);

  // The address of an exported entry, or nullptr.
  void* entry(std::string_view name) const;

  const std::string& path() const { return path_; }

 private:
  Library(void* handle, std::string path);
  void* handle_;
  std::string path_;
};

}  // namespace k52::win32

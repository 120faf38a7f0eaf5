#include "platform/win32/library.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace k52::win32 {

namespace {

std::string lowerAscii(std::string_view s) {
  std::string lower(s);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// "TRCHOOK.DLL" -> "TRCHOOK"; a leading dot is part of the name.
std::string_view baseName(std::string_view moduleName) {
  const std::size_t dot = moduleName.rfind('.');
  return (dot == std::string_view::npos || dot == 0) ? moduleName : moduleName.substr(0, dot);
}

// The directories to search, in order, before the dynamic loader's own.
std::vector<std::filesystem::path> searchDirectories(const Prefix& prefix) {
  std::vector<std::filesystem::path> dirs;
  if (const char* libraryPath = std::getenv("K52_LIBRARY_PATH")) {
    std::string_view rest = libraryPath;
    while (!rest.empty()) {
      const std::size_t colon = rest.find(':');
      // An empty entry would mean the working directory, which is not a
      // place anyone means to load code from.
      if (colon != 0) dirs.emplace_back(rest.substr(0, colon));
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  dirs.push_back(prefix.root() / "drive_c/windows/system32");
  dirs.push_back(prefix.root() / "drive_c/windows");
  return dirs;
}

// The file a handle was loaded from, as the dynamic loader found it.
std::string loadedPath(void* handle, const std::string& fallback) {
  link_map* map = nullptr;
  if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr &&
      *map->l_name != '\0') {
    return map->l_name;
  }
  return fallback;
}

}  // namespace

Library::Library(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}

Library::~Library() {
  ::dlclose(handle_);
}

std::unique_ptr<Library> Library::load(std::string_view moduleName, const Prefix& prefix) {
  const auto open = [](const std::string& file) -> std::unique_ptr<Library> {
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    return std::unique_ptr<Library>(new Library(handle, loadedPath(handle, file)));
  };

  if (moduleName.empty() || moduleName.find('\0') != std::string_view::npos) return nullptr;
  if (moduleName.find_first_of("/\\") != std::string_view::npos) {
    const auto host = prefix.hostPath(moduleName);
    return open(host ? host->string() : std::string(moduleName));
  }

  const std::string_view exact = baseName(moduleName);
  std::vector<std::string> spellings{std::string(exact)};
  if (lowerAscii(exact) != exact) spellings.push_back(lowerAscii(exact));

  for (const auto& dir : searchDirectories(prefix)) {
    for (const std::string& name : spellings) {
      for (const std::string& file : {"lib" + name + ".so", name + ".so"}) {
        const std::filesystem::path candidate = dir / file;
        std::error_code error;
        if (!std::filesystem::is_regular_file(candidate, error)) continue;
        if (auto library = open(candidate.string())) return library;
      }
    }
  }
  for (const std::string& name : spellings) {
    if (auto library = open("lib" + name + ".so")) return library;
  }
  return nullptr;
}

void* Library::entry(std::string_view name) const {
  return ::dlsym(handle_, std::string(name).c_str());
}

}  // namespace k52::win32

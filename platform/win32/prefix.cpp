#include "platform/win32/prefix.h"

#include <cstdlib>
#include <utility>
#include <vector>

namespace k52::win32 {

namespace {

bool isSeparator(char c) {
  return c == '\\' || c == '/';
}

bool isAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char toLowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

const char* nonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return (value != nullptr && *value != '\0') ? value : nullptr;
}

}  // namespace

Prefix::Prefix(std::filesystem::path root) : root_(std::move(root)) {}

Prefix Prefix::fromEnvironment() {
  if (const char* prefix = nonEmptyEnv("K52_PREFIX")) return Prefix(prefix);
  const char* home = nonEmptyEnv("HOME");
  return Prefix(std::filesystem::path(home != nullptr ? home : "/tmp") / ".local/share/k52kit");
}

Prefix Prefix::resolve(const std::optional<std::string>& explicitRoot) {
  return explicitRoot ? Prefix(*explicitRoot) : fromEnvironment();
}

std::optional<std::filesystem::path> Prefix::hostPath(std::string_view windowsPath) const {
  // "C:" must be followed by a separator or nothing: "C:name" is relative to
  // a per-drive current directory this system does not have.
  if (windowsPath.size() < 2 || !isAsciiLetter(windowsPath[0]) || windowsPath[1] != ':') {
    return std::nullopt;
  }
  if (windowsPath.size() > 2 && !isSeparator(windowsPath[2])) return std::nullopt;
  // A NUL would silently cut the host path short in every system call.
  if (windowsPath.find('\0') != std::string_view::npos) return std::nullopt;

  std::vector<std::string_view> parts;
  std::size_t pos = 2;
  while (pos < windowsPath.size()) {
    while (pos < windowsPath.size() && isSeparator(windowsPath[pos])) ++pos;
    std::size_t end = pos;
    while (end < windowsPath.size() && !isSeparator(windowsPath[end])) ++end;
    const std::string_view part = windowsPath.substr(pos, end - pos);
    pos = end;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      // Climbing out of the drive would reach the prefix itself (the hives).
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }

  std::filesystem::path host = root_ / (std::string("drive_") + toLowerAscii(windowsPath[0]));
  for (const std::string_view part : parts) host /= part;
  return host;
}

}  // namespace k52::win32

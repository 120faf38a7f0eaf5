#include "platform/win32/messaging/command_line.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

namespace k52::win32 {
namespace {

std::vector<std::filesystem::path> pathList(const char* value) {
  std::vector<std::filesystem::path> dirs;
  if (value == nullptr) return dirs;
  std::stringstream in(value);
  std::string dir;
  while (std::getline(in, dir, ':')) {
    if (!dir.empty()) dirs.emplace_back(dir);
  }
  return dirs;
}

bool executable(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::vector<std::string> splitCommandLine(std::string_view commandLine) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (char c : commandLine) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

std::optional<std::filesystem::path> findProgram(std::string_view name, const Prefix& prefix) {
  std::string base(name);
  if (base.empty()) return std::nullopt;
  if (base.find('/') != std::string::npos) {
    if (executable(base)) return std::filesystem::path(base);
    return std::nullopt;
  }
  if (base.size() > 4) {
    std::string ext = base.substr(base.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".exe") base.resize(base.size() - 4);
  }
  std::string lower = base;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });

  auto dirs = pathList(std::getenv("K52_PROGRAM_PATH"));
  dirs.push_back(prefix.root() / "drive_c" / "windows" / "system32");
  dirs.push_back(prefix.root() / "drive_c" / "windows");
  for (auto& dir : pathList(std::getenv("PATH"))) dirs.push_back(std::move(dir));
  for (const auto& dir : dirs) {
    for (const auto& candidate : {base, lower}) {
      if (executable(dir / candidate)) return dir / candidate;
    }
  }
  return std::nullopt;
}

}  // namespace k52::win32

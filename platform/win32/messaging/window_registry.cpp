#include "platform/win32/messaging/window_registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

namespace k52::win32 {
namespace {

constexpr HWND kFirstHandle = 0x00010000;

std::string oneLine(std::string_view text) {
  std::string out(text.substr(0, kMaxWindowText));
  std::replace(out.begin(), out.end(), '\n', ' ');
  std::replace(out.begin(), out.end(), '\r', ' ');
  return out;
}

template <typename T>
bool number(std::string_view text, T& out, int base = 10) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  return ec == std::errc{} && end == text.data() + text.size();
}

std::string hex8(HWND hwnd) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", hwnd);
  return buf;
}

}  // namespace

std::string formatWindowEntry(const WindowEntry& e) {
  std::ostringstream out;
  out << "hwnd=" << hex8(e.hwnd) << "\npid=" << e.process.pid << "\nstart=" << e.process.startTime
      << "\ntid=" << e.tid << "\nvisible=" << (e.visible ? 1 : 0) << "\nowner=" << hex8(e.owner)
      << "\nz=" << e.z << "\nclass=" << oneLine(e.className) << "\ntitle=" << oneLine(e.title)
      << "\n";
  return out.str();
}

std::optional<WindowEntry> parseWindowEntry(std::string_view text) {
  static constexpr std::string_view kKeys[] = {"hwnd",  "pid", "start", "tid",  "visible",
                                               "owner", "z",   "class", "title"};
  WindowEntry e;
  for (std::string_view key : kKeys) {
    const auto eol = text.find('\n');
    if (eol == std::string_view::npos) return std::nullopt;
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol + 1);
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != '=') {
      return std::nullopt;
    }
    const std::string_view value = line.substr(key.size() + 1);
    int visible = 0;
    bool ok = true;
    if (key == "hwnd") ok = number(value, e.hwnd, 16) && e.hwnd != 0;
    if (key == "pid") ok = number(value, e.process.pid) && e.process.pid > 0;
    if (key == "start") ok = number(value, e.process.startTime);
    if (key == "tid") ok = number(value, e.tid);
    if (key == "visible") {
      ok = number(value, visible) && (visible == 0 || visible == 1);
      e.visible = visible == 1;
    }
    if (key == "owner") ok = number(value, e.owner, 16);
    if (key == "z") ok = number(value, e.z);
    if (key == "class") ok = value.size() <= kMaxWindowText, e.className = value;
    if (key == "title") ok = value.size() <= kMaxWindowText, e.title = value;
    if (!ok) return std::nullopt;
  }
  if (!text.empty()) return std::nullopt;
  return e;
}

WindowRegistry::WindowRegistry(std::filesystem::path runDir) : dir_(std::move(runDir) / "windows") {
  std::filesystem::create_directories(dir_);
}

std::uint64_t WindowRegistry::nextCounter() {
  const auto path = dir_ / ".counter";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), path.string());
  ::flock(fd, LOCK_EX);
  char buf[32] = {};
  const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
  std::uint64_t value = 0;
  if (n > 0) number(std::string_view(buf, static_cast<std::size_t>(n)), value);
  ++value;
  const std::string text = std::to_string(value);
  const bool written = ::ftruncate(fd, 0) == 0 && ::pwrite(fd, text.data(), text.size(), 0) ==
                                                      static_cast<ssize_t>(text.size());
  const int error = errno;
  ::close(fd);  // releases the lock
  if (!written) throw std::system_error(error, std::generic_category(), path.string());
  return value;
}

HWND WindowRegistry::allocateHandle() {
  return kFirstHandle + static_cast<HWND>(nextCounter() % (0xFFFFFFFFu - kFirstHandle));
}

std::uint64_t WindowRegistry::allocateZ() {
  return nextCounter();
}

std::filesystem::path WindowRegistry::pathOf(HWND hwnd) const {
  return dir_ / hex8(hwnd);
}

void WindowRegistry::write(const WindowEntry& entry) {
  const auto path = pathOf(entry.hwnd);
  auto temp = path;
  temp += ".tmp." + std::to_string(entry.process.pid);
  {
    std::ofstream out(temp, std::ios::trunc);
    out << formatWindowEntry(entry);
    if (!out.flush()) throw std::system_error(EIO, std::generic_category(), temp.string());
  }
  std::filesystem::rename(temp, path);
}

void WindowRegistry::remove(HWND hwnd) {
  std::error_code ignored;
  std::filesystem::remove(pathOf(hwnd), ignored);
}

std::optional<WindowEntry> WindowRegistry::readLive(const std::filesystem::path& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto entry = parseWindowEntry(text);
  if (!entry || entry->process == ProcessIdentity{} || !entry->process.alive()) {
    // A crashed owner leaves its entries behind; nobody else will remove them.
    if (entry) {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
    return std::nullopt;
  }
  return entry;
}

std::optional<WindowEntry> WindowRegistry::find(HWND hwnd) {
  if (hwnd == 0) return std::nullopt;
  auto entry = readLive(pathOf(hwnd));
  if (entry && entry->hwnd != hwnd) return std::nullopt;
  return entry;
}

std::vector<WindowEntry> WindowRegistry::liveWindows() {
  std::vector<WindowEntry> out;
  std::error_code ec;
  for (const auto& item : std::filesystem::directory_iterator(dir_, ec)) {
    const auto name = item.path().filename().string();
    if (const auto temp = name.find(".tmp."); temp != std::string::npos) {
      // Half-written by a process that died before its rename.
      pid_t writer = 0;
      if (number(std::string_view(name).substr(temp + 5), writer) && !ProcessIdentity::of(writer)) {
        std::filesystem::remove(item.path(), ec);
      }
      continue;
    }
    if (name.size() != 8 || name.front() == '.') continue;
    if (auto entry = readLive(item.path())) out.push_back(std::move(*entry));
  }
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.z > b.z; });
  return out;
}

}  // namespace k52::win32

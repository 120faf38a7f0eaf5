// The live windows of one prefix: one small text file per window under
// <prefix>/run/windows/, named by the handle in eight hexadecimal digits.
//
//   hwnd=0001002A
//   pid=4711
//   start=123456        owner process's start time (see ProcessIdentity)
//   tid=4712
//   visible=0
//   owner=00000000
//   z=42                larger is nearer the top of the z-order
//   class=CHIPHOST
//   title=
//
// Entries are replaced atomically (temporary file and rename). An entry whose
// owner process is gone is stale: lookups skip it and delete it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/messaging/process_identity.h"
#include "platform/win32/messaging/types.h"

namespace k52::win32 {

struct WindowEntry {
  HWND hwnd = 0;
  ProcessIdentity process;
  DWORD tid = 0;
  bool visible = false;
  HWND owner = 0;
  std::uint64_t z = 0;
  std::string className;
  std::string title;
};

inline constexpr std::size_t kMaxWindowText = 1024;

std::string formatWindowEntry(const WindowEntry& entry);
// nullopt for anything that is not a complete entry of the format above.
std::optional<WindowEntry> parseWindowEntry(std::string_view text);

class WindowRegistry {
 public:
  explicit WindowRegistry(std::filesystem::path runDir);

  // A handle never handed out before in this prefix, and a z value above
  // every window's so far. Throws std::system_error when the directory fails.
  HWND allocateHandle();
  std::uint64_t allocateZ();

  void write(const WindowEntry& entry);
  void remove(HWND hwnd);

  // The entry of a live window.
  std::optional<WindowEntry> find(HWND hwnd);
  // All live windows, top of the z-order first.
  std::vector<WindowEntry> liveWindows();

 private:
  std::uint64_t nextCounter();
  std::filesystem::path pathOf(HWND hwnd) const;
  std::optional<WindowEntry> readLive(const std::filesystem::path& path);

  std::filesystem::path dir_;
};

}  // namespace k52::win32

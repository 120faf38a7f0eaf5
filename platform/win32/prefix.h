// The Windows prefix: the directory that holds what a Windows machine keeps in
// its registry and on its drives.
//
//   <root>/system.reg    HKEY_LOCAL_MACHINE, REGEDIT4 text
//   <root>/user.reg      HKEY_CURRENT_USER, REGEDIT4 text
//   <root>/drive_c/      what programs see as C:\ (drive_d/ for D:\, ...)
//   <root>/run/          sockets and named objects of live programs
//
// The root is --prefix when a program is given one, else $K52_PREFIX, else
// ~/.local/share/k52kit.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace k52::win32 {

class Prefix {
 public:
  explicit Prefix(std::filesystem::path root);

  // $K52_PREFIX, else ~/.local/share/k52kit ($HOME; /tmp when HOME is unset).
  static Prefix fromEnvironment();

  // `explicitRoot` (a --prefix argument) when given, else fromEnvironment().
  static Prefix resolve(const std::optional<std::string>& explicitRoot);

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path systemHive() const { return root_ / "system.reg"; }
  std::filesystem::path userHive() const { return root_ / "user.reg"; }
  std::filesystem::path runDir() const { return root_ / "run"; }

  // Translates a Windows path to the host path behind it:
  //   "C:\_cc.prt"        -> <root>/drive_c/_cc.prt
  //   "d:\logs\x.txt"     -> <root>/drive_d/logs/x.txt
  // Drive letters are case-insensitive; both separators are accepted. A path
  // without a drive letter, or one that climbs above its drive with "..", has
  // no translation (nullopt).
  std::optional<std::filesystem::path> hostPath(std::string_view windowsPath) const;

 private:
  std::filesystem::path root_;
};

}  // namespace k52::win32

// REGEDIT4 text, the form of the hive files and of import and export:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\CTAPIDLL.INI\OPT]
//   "ReaderName1"="Virtual PCD 00 00"
//   "Port"=dword:00000001
//   "Blob"=hex:01,02
//
// Strings escape only "\\" and "\""; a string holding CR or LF is written as
// hex(1): bytes so that every entry stays on its lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/internal/hive.h"
#include "platform/win32/registry.h"

namespace k52::win32 {

inline constexpr std::string_view kRegTextHeader = "REGEDIT4\n\n";

struct RegEdit {
  enum class Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
  Kind kind = Kind::CreateKey;
  RootKey root = RootKey::LocalMachine;
  std::string key;       // path below the root key
  std::string name;      // SetValue, DeleteValue; "" is the default value
  RegValue value;        // SetValue
  std::size_t line = 0;  // where the entry starts, for error messages
};

// The edits a text describes, in order. Throws RegistryError naming `source`
// (when not empty) and the line of the first fault.
std::vector<RegEdit> parseRegText(std::string_view text, std::string_view source);

// Reports whether the edit changed the hive. Edits from parseRegText are
// valid; others may throw std::invalid_argument.
bool applyEdit(Hive& hive, const RegEdit& edit);

// The hive that a hive file's text holds; a key below the other root is a
// fault.
Hive parseHive(std::string_view text, RootKey root, std::string_view source);

// The text of the key at `path` and all keys below it, ready for
// parseRegText; the header alone when there is no such key.
std::string formatRegText(const Hive& hive, std::string_view path);

// "01,02,ff", the byte list of hex: values; nullopt when malformed.
std::optional<std::vector<std::uint8_t>> parseHexList(std::string_view text);

}  // namespace k52::win32

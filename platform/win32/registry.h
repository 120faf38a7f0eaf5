// The registry of a prefix, kept as two REGEDIT4 text hives.
//
// Key paths are written the Windows way, "CTAPIDLL.INI\OPT" below a root key;
// key and value names compare case-insensitively and keep the spelling they
// were created with. Every write re-reads the hive under an exclusive file lock
// (flock on "<hive>.lock") and replaces it atomically (temporary file +
// rename), so concurrent writers in several processes lose nothing. Reads take
// the lock shared and see the last completed write.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/win32/prefix.h"

namespace k52::win32 {

enum class RootKey { LocalMachine, CurrentUser };

// REG_SZ, REG_DWORD and REG_BINARY, the types the system stores.
using RegValue = std::variant<std::string, std::uint32_t, std::vector<std::uint8_t>>;

// A malformed hive or .reg file, or a file that cannot be written.
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Registry {
 public:
  explicit Registry(Prefix prefix);

  // Splits a full key name such as "HKCU\CTAPIDLL.INI\OPT" or
  // "HKEY_LOCAL_MACHINE\Software\Morvex\Settings" into root and path.
  // Accepts HKLM, HKCU and the long forms, case-insensitively.
  static std::optional<std::pair<RootKey, std::string>> splitKeyName(std::string_view fullKey);

  // The value, or nullopt when the key or value does not exist.
  std::optional<RegValue> get(RootKey root, std::string_view key, std::string_view name) const;

  // A string value; a missing key or value, or a value of another type,
  // reads as the empty string (what the libraries expect of the store).
  std::string getString(RootKey root, std::string_view key, std::string_view name) const;

  // Whether the key exists (with or without values).
  bool hasKey(RootKey root, std::string_view key) const;

  // Creates the key (and its parents) as needed. Throws std::invalid_argument
  // for a name the hives cannot hold (an empty key name, NUL, CR or LF) and
  // for a string holding NUL.
  void set(RootKey root, std::string_view key, std::string_view name, const RegValue& value);

  // Removes one value; returns false when it did not exist.
  bool remove(RootKey root, std::string_view key, std::string_view name);

  // Removes a key with its subkeys; returns false when it did not exist.
  // Removing the root key itself (an empty `key`) throws std::invalid_argument.
  bool removeKey(RootKey root, std::string_view key);

  // Merges a REGEDIT4 (or "Windows Registry Editor Version 5.00") text into
  // the hives: "[KEY]" sections, "name"="text", "name"=dword:xxxxxxxx,
  // "name"=hex:aa,bb,... (continued with a trailing backslash), @ for the
  // default value, "name"=- to delete a value and [-KEY] to delete a key.
  // Throws RegistryError naming the line of the first fault; nothing is
  // written then.
  void import(std::string_view regText);

  // The REGEDIT4 text of a key and its subkeys (of the whole hive when `key`
  // is empty), with full key names, ready for import().
  std::string exportText(RootKey root, std::string_view key) const;

 private:
  Prefix prefix_;
};

}  // namespace k52::win32

// One hive held in memory: the tree of keys and values a hive file describes.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/registry.h"

namespace k52::win32 {

// "HKEY_LOCAL_MACHINE" / "HKEY_CURRENT_USER", the spelling files use.
std::string_view rootKeyName(RootKey root);

// The lookup form of a key or value name: names compare ASCII
// case-insensitively, like the platform's registry.
std::string foldName(std::string_view name);

// The names along a key path ("CTAPIDLL.INI\OPT"); the empty path is the root
// key. nullopt when a name is empty, longer than 255 bytes or holds NUL, CR or
// LF, or the path is deeper than 512 keys: the limits keep every key writable
// as one "[...]" line and bound the recursion over the tree.
std::optional<std::vector<std::string_view>> splitKeyPath(std::string_view path);

// Value names and strings must fit on one quoted line, and NUL ends a string.
bool isValidValueName(std::string_view name);
bool isValidString(std::string_view text);

// Throws std::invalid_argument when the hives cannot hold `value` as `name`
// below `key`.
void checkStorable(std::string_view key, std::string_view name, const RegValue& value);

struct RegNamedValue {
  std::string name;  // as first created
  RegValue value;
};

struct RegKey {
  std::string name;                             // as first created
  std::map<std::string, RegNamedValue> values;  // by folded name; "" is the default
  std::map<std::string, RegKey> subkeys;        // by folded name
};

class Hive {
 public:
  explicit Hive(RootKey root);

  RootKey root() const { return root_; }
  const RegKey& top() const { return top_; }

  // nullptr when the key does not exist (or cannot, its path being invalid).
  const RegKey* find(std::string_view path) const;

  // Each change reports whether it altered the tree, so that an unchanged
  // hive need not be written back. Invalid names throw std::invalid_argument.
  bool createKey(std::string_view path);
  bool setValue(std::string_view path, std::string_view name, const RegValue& value);
  bool removeValue(std::string_view path, std::string_view name);
  bool removeKey(std::string_view path);

 private:
  RegKey& create(std::string_view path, bool& created);

  RootKey root_;
  RegKey top_;
};

}  // namespace k52::win32

#include "platform/win32/internal/hive.h"

#include <stdexcept>

namespace k52::win32 {

namespace {

constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxKeyDepth = 512;

bool holdsLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos;
}

std::vector<std::string_view> validParts(std::string_view path) {
  auto parts = splitKeyPath(path);
  if (!parts) throw std::invalid_argument("invalid key name \"" + std::string(path) + "\"");
  return *parts;
}

// Shared by the const and mutable lookups.
template <class Key>
Key* descend(Key* key, std::string_view path) {
  const auto parts = splitKeyPath(path);
  if (!parts) return nullptr;
  for (const std::string_view part : *parts) {
    const auto it = key->subkeys.find(foldName(part));
    if (it == key->subkeys.end()) return nullptr;
    key = &it->second;
  }
  return key;
}

}  // namespace

std::string_view rootKeyName(RootKey root) {
  return root == RootKey::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string foldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

std::optional<std::vector<std::string_view>> splitKeyPath(std::string_view path) {
  std::vector<std::string_view> parts;
  if (path.empty()) return parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = path.find('\\', start);
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part.size() > kMaxKeyNameLength || holdsLineBreakOrNul(part)) {
      return std::nullopt;
    }
    parts.push_back(part);
    if (parts.size() > kMaxKeyDepth) return std::nullopt;
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

bool isValidValueName(std::string_view name) {
  return !holdsLineBreakOrNul(name);
}

bool isValidString(std::string_view text) {
  return text.find('\0') == std::string_view::npos;
}

void checkStorable(std::string_view key, std::string_view name, const RegValue& value) {
  validParts(key);
  if (!isValidValueName(name)) throw std::invalid_argument("value names cannot hold NUL, CR or LF");
  if (const auto* text = std::get_if<std::string>(&value); text && !isValidString(*text)) {
    throw std::invalid_argument("string values cannot hold NUL");
  }
}

Hive::Hive(RootKey root) : root_(root) {
  top_.name = rootKeyName(root);
}

const RegKey* Hive::find(std::string_view path) const {
  return descend(&top_, path);
}

RegKey& Hive::create(std::string_view path, bool& created) {
  RegKey* key = &top_;
  for (const std::string_view part : validParts(path)) {
    const auto [it, inserted] = key->subkeys.try_emplace(foldName(part));
    if (inserted) {
      it->second.name = part;
      created = true;
    }
    key = &it->second;
  }
  return *key;
}

bool Hive::createKey(std::string_view path) {
  bool created = false;
  create(path, created);
  return created;
}

bool Hive::setValue(std::string_view path, std::string_view name, const RegValue& value) {
  checkStorable(path, name, value);
  bool changed = false;
  RegKey& key = create(path, changed);
  const auto [it, inserted] =
      key.values.try_emplace(foldName(name), RegNamedValue{std::string(name), value});
  if (inserted) return true;
  if (it->second.value == value) return changed;
  it->second.value = value;
  return true;
}

bool Hive::removeValue(std::string_view path, std::string_view name) {
  RegKey* key = descend(&top_, path);
  return key != nullptr && key->values.erase(foldName(name)) > 0;
}

bool Hive::removeKey(std::string_view path) {
  const auto parts = splitKeyPath(path);
  if (!parts) return false;
  if (parts->empty()) throw std::invalid_argument("a root key cannot be removed");
  const std::size_t lastSlash = path.rfind('\\');
  const std::string_view parentPath =
      lastSlash == std::string_view::npos ? std::string_view() : path.substr(0, lastSlash);
  RegKey* parent = descend(&top_, parentPath);
  return parent != nullptr && parent->subkeys.erase(foldName(parts->back())) > 0;
}

}  // namespace k52::win32

#include "platform/win32/registry.h"

#include <algorithm>
#include <array>
#include <utility>

#include "platform/win32/internal/hive.h"
#include "platform/win32/internal/hive_file.h"
#include "platform/win32/internal/reg_file.h"

namespace k52::win32 {

namespace {

constexpr std::array<RootKey, 2> kRoots = {RootKey::LocalMachine, RootKey::CurrentUser};

std::filesystem::path hivePath(const Prefix& prefix, RootKey root) {
  return root == RootKey::LocalMachine ? prefix.systemHive() : prefix.userHive();
}

std::size_t slot(RootKey root) {
  return root == RootKey::LocalMachine ? 0 : 1;
}

Hive readHive(const Prefix& prefix, RootKey root) {
  const std::filesystem::path path = hivePath(prefix, root);
  const HiveLock lock = HiveLock::shared(path);
  return loadHive(path, root);
}

// Read-modify-write under the exclusive lock; the file is replaced only when
// `change` reports that it changed the hive.
template <class Change>
bool updateHive(const Prefix& prefix, RootKey root, Change change) {
  const std::filesystem::path path = hivePath(prefix, root);
  const HiveLock lock = HiveLock::exclusive(path);
  Hive hive = loadHive(path, root);
  const bool changed = change(hive);
  if (changed) saveHive(path, hive);
  return changed;
}

// Removing from a hive that was never written cannot find anything; checking
// first keeps a failed removal from creating the prefix.
bool hiveExists(const Prefix& prefix, RootKey root) {
  std::error_code error;
  return std::filesystem::exists(hivePath(prefix, root), error) || error;
}

std::optional<RootKey> parseRootName(std::string_view name) {
  const std::string folded = foldName(name);
  if (folded == "hklm" || folded == "hkey_local_machine") return RootKey::LocalMachine;
  if (folded == "hkcu" || folded == "hkey_current_user") return RootKey::CurrentUser;
  return std::nullopt;
}

}  // namespace

Registry::Registry(Prefix prefix) : prefix_(std::move(prefix)) {}

std::optional<std::pair<RootKey, std::string>> Registry::splitKeyName(std::string_view fullKey) {
  const std::size_t slash = fullKey.find('\\');
  const auto root = parseRootName(fullKey.substr(0, slash));
  if (!root) return std::nullopt;
  if (slash == std::string_view::npos) return std::pair(*root, std::string());
  // "HKCU\" names no key: a trailing backslash is an empty name.
  if (slash + 1 == fullKey.size()) return std::nullopt;
  return std::pair(*root, std::string(fullKey.substr(slash + 1)));
}

std::optional<RegValue> Registry::get(RootKey root, std::string_view key,
                                      std::string_view name) const {
  const Hive hive = readHive(prefix_, root);
  const RegKey* found = hive.find(key);
  if (found == nullptr) return std::nullopt;
  const auto it = found->values.find(foldName(name));
  if (it == found->values.end()) return std::nullopt;
  return it->second.value;
}

std::string Registry::getString(RootKey root, std::string_view key, std::string_view name) const {
  auto value = get(root, key, name);
  auto* text = value ? std::get_if<std::string>(&*value) : nullptr;
  return text != nullptr ? std::move(*text) : std::string();
}

bool Registry::hasKey(RootKey root, std::string_view key) const {
  return readHive(prefix_, root).find(key) != nullptr;
}

void Registry::set(RootKey root, std::string_view key, std::string_view name,
                   const RegValue& value) {
  // Refuse before taking the lock, so a bad name leaves no trace on disk.
  checkStorable(key, name, value);
  updateHive(prefix_, root, [&](Hive& hive) { return hive.setValue(key, name, value); });
}

bool Registry::remove(RootKey root, std::string_view key, std::string_view name) {
  if (!hiveExists(prefix_, root)) return false;
  return updateHive(prefix_, root, [&](Hive& hive) { return hive.removeValue(key, name); });
}

bool Registry::removeKey(RootKey root, std::string_view key) {
  if (key.empty()) throw std::invalid_argument("a root key cannot be removed");
  if (!hiveExists(prefix_, root)) return false;
  return updateHive(prefix_, root, [&](Hive& hive) { return hive.removeKey(key); });
}

void Registry::import(std::string_view regText) {
  // Every fault in the text surfaces here, before any hive is touched.
  const std::vector<RegEdit> edits = parseRegText(regText, "");

  // Lock all hives the text touches before reading any, always in the same
  // order, so that two importers cannot deadlock.
  std::array<std::optional<HiveLock>, 2> locks;
  std::array<std::optional<Hive>, 2> hives;
  std::array<bool, 2> changed{};
  for (const RootKey root : kRoots) {
    const bool touched =
        std::any_of(edits.begin(), edits.end(), [&](const RegEdit& e) { return e.root == root; });
    if (!touched) continue;
    locks[slot(root)].emplace(HiveLock::exclusive(hivePath(prefix_, root)));
    hives[slot(root)].emplace(loadHive(hivePath(prefix_, root), root));
  }
  for (const RegEdit& edit : edits) {
    changed[slot(edit.root)] |= applyEdit(*hives[slot(edit.root)], edit);
  }
  for (const RootKey root : kRoots) {
    if (changed[slot(root)]) saveHive(hivePath(prefix_, root), *hives[slot(root)]);
  }
}

std::string Registry::exportText(RootKey root, std::string_view key) const {
  return formatRegText(readHive(prefix_, root), key);
}

}  // namespace k52::win32

#include "tools/purse/library_setting.h"

namespace k52::balview {

namespace {
// The value has always been read into a 256-byte buffer; what goes beyond
// its 255 characters has never been part of the name.
constexpr std::size_t kMaxName = 255;
}  // namespace

std::string configuredLibrary(const win32::Registry& registry) {
  std::string name = registry.getString(win32::RootKey::LocalMachine, kSettingsKey, kLibraryValue);
  if (name.size() > kMaxName) name.resize(kMaxName);
  return name.empty() ? kDefaultLibrary : name;
}

}  // namespace k52::balview

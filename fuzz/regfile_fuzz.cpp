// Feeds arbitrary bytes to the REGEDIT4 reader. Whatever it accepts must
// write back to a text that reads as the same registry: the hives depend on
// that round trip on every write.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/win32/internal/reg_file.h"

namespace {

using namespace k52::win32;

std::string formatBoth(const Hive& system, const Hive& user) {
  return formatRegText(system, "") + formatRegText(user, "").substr(kRegTextHeader.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<RegEdit> edits;
  try {
    edits = parseRegText(text, "fuzz.reg");
  } catch (const RegistryError&) {
    return 0;
  }
  Hive system(RootKey::LocalMachine), user(RootKey::CurrentUser);
  for (const RegEdit& edit : edits)
    applyEdit(edit.root == RootKey::LocalMachine ? system : user, edit);

  const std::string written = formatBoth(system, user);
  const Hive systemAgain = parseHive(formatRegText(system, ""), RootKey::LocalMachine, "system");
  const Hive userAgain = parseHive(formatRegText(user, ""), RootKey::CurrentUser, "user");
  if (formatBoth(systemAgain, userAgain) != written) __builtin_trap();
  return 0;
}

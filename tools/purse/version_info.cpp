#include "tools/purse/version_info.h"

#include <cstdio>

#include "tools/purse/purse_commands.h"
#include "tools/purse/strings.h"

namespace k52::balview {

namespace {

std::string versionText(std::uint8_t version) {
  char text[32];
  std::snprintf(text, sizeof text, "Version %d.%d", version >> 4, version & 0x0F);
  return text;
}

}  // namespace

VersionTexts queryVersionTexts(CtApiBinding& ct) {
  VersionTexts texts;
  const auto version = versionQuery(ct);
  if (!version) return texts;
  const auto [interface, driver, firmware] = *version;
  texts.answered = true;
  texts.interface = versionText(interface);
  texts.driver = driver == 0 ? std::string(loadString(kIdsNoDriver)) : versionText(driver);
  texts.firmware = firmware == 0 ? std::string(loadString(kIdsNoReader)) : versionText(firmware);
  return texts;
}

bool versionIncomplete(CtApiBinding& ct) {
  const auto version = versionQuery(ct);
  return !version || (*version)[1] == 0 || (*version)[2] == 0;
}

}  // namespace k52::balview

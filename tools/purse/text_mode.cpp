#include "tools/purse/text_mode.h"

#include "tools/purse/purse_tool.h"
#include "tools/purse/version_info.h"

namespace k52::balview {

int printBalance(CtApiBinding& ct, std::ostream& out) {
  PurseTool tool(ct);
  tool.test([] {});
  out << tool.displayText() << '\n';
  return tool.showsBalance() ? 0 : 1;
}

int printVersionInfo(CtApiBinding& ct, std::ostream& out) {
  const VersionTexts texts = queryVersionTexts(ct);
  out << kInterfaceLabel << ": " << texts.interface << '\n'
      << kDriverLabel << ": " << texts.driver << '\n'
      << kFirmwareLabel << ": " << texts.firmware << '\n';
  return texts.answered ? 0 : 1;
}

}  // namespace k52::balview

// readerctl's steps in process, against the firmware simulator on the
// virtual clock: what a step prints, and a failed step that leaves the
// others running.
#include "tools/readerctl/readerctl.h"

#include <gtest/gtest.h>

#include <sstream>

#include "chiphost/readers/test_rig.h"

namespace k52::readerctl {
namespace {

const chiphost::ErrorTexts& texts() {
  static const chiphost::ErrorTexts t("[ENGLISH]\n1008=No card reader available.\n");
  return t;
}

std::pair<int, std::string> run(std::vector<std::string_view> args) {
  std::ostringstream out;
  const int result = runSteps(std::get<Invocation>(parseInvocation(args)), texts(), out);
  return {result, out.str()};
}

TEST(Readerctl, AttachInfoAndPresentPrintKeyValueLines) {
  chiphost::ReaderRig rig;
  auto& fw = rig.plugReader({.lot = 1234, .serial = 5678});
  fw.insertCard(0, chiphost::ReaderRig::purseCard());
  const auto [result, out] = run({"COM3", "attach=2", "info", "present", "counters"});
  EXPECT_EQ(result, 0) << out;
  for (const char* line : {"notify 301 0503\n", "notify 301 FE03\n", "attached=1\n", "Type=1\n",
                           "Name=FNX\n", "Version=4.2\n", "LotNr=1234\n", "Serial=5678\n",
                           "MaxBaudrate=115200\n", "present=yes\n", "speed=115200\n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << out;
  }
}

TEST(Readerctl, AFailedStepPrintsItsCodeAndTheRestStillRun) {
  chiphost::ReaderRig rig;
  const auto [result, out] = run({"COM3", "info", "attach", "counters"});
  EXPECT_EQ(result, 1);
  EXPECT_NE(out.find("error=1008 No card reader available.\n"), std::string::npos) << out;
  EXPECT_NE(out.find("transfers="), std::string::npos) << out;
}

TEST(Readerctl, VersionBytesReadAsFirmwareLevels) {
  EXPECT_EQ(versionText(0x42), "4.2");
  EXPECT_EQ(versionText(0x13), "1.3");
  EXPECT_EQ(versionText(0x0A), "0.A");
}

}  // namespace
}  // namespace k52::readerctl

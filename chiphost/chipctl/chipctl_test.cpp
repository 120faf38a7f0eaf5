// chipctl's command line, and the program's output and exit status against
// a real server.
#include <gtest/gtest.h>

#include "chiphost/chipctl/command_line.h"
#include "chiphost/testing/child_program.h"
#include "platform/win32/test_temp_dir.h"

namespace k52::chiphost::chipctl {
namespace {

using namespace std::chrono_literals;

TEST(ChipctlCommandLine, DataBelongsToTheCommandAfterIt) {
  const Options o = parseCommandLine({"--shm", "--hex", "System,Info", "--data", "01 02",
                                      "System,GenCryptKey,DES", "--prefix", "/p"});
  EXPECT_TRUE(o.sharedMemory);
  EXPECT_TRUE(o.hex);
  EXPECT_FALSE(o.watch);
  EXPECT_EQ(o.prefix, "/p");
  ASSERT_EQ(o.commands.size(), 2u);
  EXPECT_TRUE(o.commands[0].data.empty());
  EXPECT_EQ(o.commands[1].data, (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(parseCommandLine({"--watch-seconds", "3"}).watchSeconds, 3);

  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"--data", "0G", "System,Info"},
      {"System,Info", "--data", "01"},
      {"--watch-seconds", "x"},
      {"--prefix"},
      {"--bogus", "System,Info"},
  };
  for (const auto& args : wrong)
    EXPECT_THROW(parseCommandLine(args), UsageError) << ::testing::PrintToString(args);
}

class ChipctlProgram : public ::testing::Test {
 protected:
  void SetUp() override { win32::attach(win32::Prefix(dir.path())); }
  void TearDown() override {
    killServer();
    win32::detach();
  }

  struct Run {
    std::optional<int> status;
    std::string out, err;
  };
  Run chipctl(std::vector<std::string> args) {
    ChildProgram p(std::filesystem::path(K52_CHIPHOST_BIN_DIR) / "chipctl", std::move(args),
                   dir.path(), out.path());
    const auto status = p.wait(20s);
    return {status, p.out(), p.err()};
  }

  win32::TempDir dir, out;
};

TEST_F(ChipctlProgram, PrintsRepliesAndFailuresWithExitStatus) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string errHas;
  };
  const Case cases[] = {
      {{"System,Info,VersionCode"}, 0, "0209\n", ""},
      {{"--shm", "System,Info,VersionText"}, 0, "Chipwarden V2.09\n", ""},
      {{"--hex", "System,Info,Lng"}, 0, "47 45 52 4D 41 4E\n", ""},
      {{"--data", "0011223344556677", "--hex", "System,GenCryptKey,DES"}, 0, "", ""},
      {{"System,SetLng,ENGLISH", "System,Foo"}, 1, "", "System,Foo: 1200: Invalid command."},
      {{"--shm", "Device,Select,1"}, 1, "", "Device,Select,1: 1203: "},
      {{"System,Foo"}, 1, "", "System,Foo: 1200: Ung\xC3\xBCltiges Kommando."},
      {{"--data", "zz", "System,Info"}, 2, "", "--data needs hex bytes"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    const Run r = chipctl(args);
    const std::string what = ::testing::PrintToString(c.args);
    EXPECT_EQ(r.status, c.status) << what << r.err;
    if (!c.out.empty()) EXPECT_EQ(r.out, c.out) << what;
    EXPECT_NE(r.err.find(c.errHas), std::string::npos) << what << ": " << r.err;
  }
}

TEST_F(ChipctlProgram, CommandsOfOneCallShareOneSession) {
  const Run r = chipctl(
      {"System,Info,Handle", "System,SetLng,ENGLISH", "System,Info,Lng", "System,Info,Handle"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1\nENGLISH\n1\n");
}

TEST_F(ChipctlProgram, WatchPrintsNotificationCodes) {
  const Run r = chipctl({"--watch-seconds", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The session's reader state (none: error), then nothing else changed.
  EXPECT_EQ(r.out, "100 65535\n");
}

}  // namespace
}  // namespace k52::chiphost::chipctl

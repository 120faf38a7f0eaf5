#include <gtest/gtest.h>

#include <sstream>

#include "platform/win32/test_temp_dir.h"
#include "tools/vrlctl/command_line.h"
#include "tools/vrlctl/session.h"

namespace k52::vrlctl {
namespace {

CommandLine parse(std::vector<std::string_view> args) {
  return parseCommandLine(args);
}

TEST(VrlctlCommandLine, RejectsWhatItDoesNotUnderstand) {
  const std::vector<std::vector<std::string_view>> bad = {
      {},
      {"--verbose", "version"},
      {"--user"},
      {"frobnicate"},
      {"filter-set"},
      {"filter-set", "10000"},
      {"port-read", "21"},
      {"port-write", "60"},
      {"cmdbyte-set", "zz"},
      {"keys"},
      {"keys", "100"},
      {"wait", "-1"},
      {"wait", "3600001"},
  };
  for (const auto& args : bad) {
    EXPECT_THROW(parse(args), UsageError) << (args.empty() ? "" : args[0]);
  }
}

TEST(VrlctlCommandLine, ReadsStepsInOrder) {
  const CommandLine line = parse({"--user", "--prefix", "/p", "keys", "64", "7f", "fifo-count",
                                  "port-write", "64", "ad", "filter-set", "21", "wait", "15"});
  EXPECT_TRUE(line.asUser);
  EXPECT_EQ(line.prefix, "/p");
  ASSERT_EQ(line.steps.size(), 5u);
  EXPECT_EQ(line.steps[0].bytes, (std::vector<std::uint8_t>{0x64, 0x7F}));
  EXPECT_EQ(line.steps[1].op, Op::FifoCount);
  EXPECT_EQ(line.steps[2].bytes, (std::vector<std::uint8_t>{0x64, 0xAD}));
  EXPECT_EQ(line.steps[3].number, 0x21u);
  EXPECT_EQ(line.steps[4].number, 15u);
  EXPECT_TRUE(parse({"--help"}).help);
}

struct SessionRun {
  int status;
  std::string out, err;
};

SessionRun run(std::vector<std::string_view> args, bool privileged) {
  win32::TempDir dir;
  std::vector<std::string_view> withPrefix = {"--prefix", dir.path().c_str()};
  withPrefix.insert(withPrefix.end(), args.begin(), args.end());
  std::ostringstream out, err;
  const int status = runSession(parseCommandLine(withPrefix), privileged, out, err);
  return {status, out.str(), err.str()};
}

TEST(VrlctlSession, TakesAFrameOutOfTheKeyboardStream) {
  const SessionRun r =
      run({"version", "filter-set", "21", "hook", "keys", "64", "7f", "10", "10", "10", "11", "1a",
           "1b", "2c", "fifo-count", "fifo-read", "fifo-read", "fifo-peek", "typed"},
          false);
  EXPECT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::vector<std::string> got;
  for (std::string l; std::getline(lines, l);) got.push_back(l);
  ASSERT_EQ(got.size(), 9u) << r.out;
  EXPECT_EQ(got[0], "version: 0301");
  EXPECT_EQ(got[1], "filter-set: 0000");
  EXPECT_EQ(got[2], "hook: 0001");
  EXPECT_EQ(got[4], "fifo-count: 3");
  EXPECT_TRUE(got[5].starts_with("fifo-read: 00 port 60 kind 1 time ")) << got[5];
  EXPECT_TRUE(got[6].starts_with("fifo-read: 01 ")) << got[6];
  EXPECT_TRUE(got[7].starts_with("fifo-peek: ab ")) << got[7];
  EXPECT_EQ(got[8], "typed: 2C");
}

TEST(VrlctlSession, PortRequestsNeedAPrivilegedCaller) {
  const SessionRun user = run({"version", "cmdbyte", "version"}, false);
  EXPECT_EQ(user.status, 1);
  EXPECT_EQ(user.out, "version: 0301\n");
  EXPECT_NE(user.err.find("cmdbyte: access denied"), std::string::npos) << user.err;

  const SessionRun admin = run({"kbint-off", "cmdbyte", "kbint-on", "port-read", "64"}, true);
  EXPECT_EQ(admin.status, 0) << admin.err;
  EXPECT_EQ(admin.out, "kbint-off: ok\ncmdbyte: 47\nkbint-on: ok\nport-read: 00\n");
}

}  // namespace
}  // namespace k52::vrlctl

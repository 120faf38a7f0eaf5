// fnxsim's command line and control lines.
#include "sim/fnx/fnxsim_options.h"

#include <gtest/gtest.h>

#include "sim/fnx/fnxsim_control.h"

namespace k52::sim {
namespace {

std::variant<FnxsimOptions, std::string> parse(std::vector<std::string_view> args) {
  return parseFnxsimOptions(args);
}

TEST(FnxsimOptions, DefaultsAndValues) {
  auto o = std::get<FnxsimOptions>(parse({}));
  EXPECT_EQ(o.config.type, 1);
  EXPECT_EQ(o.config.firmware, 0x42);
  EXPECT_EQ(o.config.maxSpeed, 115200);
  o = std::get<FnxsimOptions>(
      parse({"--type", "7", "--firmware", "0x13", "--lot", "1234", "--serial", "5678", "--card2",
             "purse:100", "--faults", "7,0.25", "--driver", "4"}));
  EXPECT_EQ(o.config.type, 7);
  EXPECT_EQ(o.config.firmware, 0x13);
  EXPECT_EQ(o.config.lot, 1234);
  EXPECT_TRUE(o.cards[1]);
  EXPECT_EQ(*o.faultSeed, 7u);
  EXPECT_DOUBLE_EQ(o.faultRate, 0.25);
  EXPECT_EQ(o.driver, 4);
  o = std::get<FnxsimOptions>(parse({"--socket", "/tmp/s", "mute"}));
  EXPECT_EQ(o.command, "mute");
}

TEST(FnxsimOptions, BadArgumentsAreNamed) {
  for (std::vector<std::string_view> args : {std::vector<std::string_view>{"--type", "14"},
                                             {"--firmware", "256"},
                                             {"--lot"},
                                             {"--faults", "1,2"},
                                             {"--faults", "x,0.1"},
                                             {"--card2", "purse:1"},
                                             {"--bogus", "1"},
                                             {"--link", "/tmp/l", "--driver", "3"},
                                             {"insert", "nocard"},
                                             {"garble"},
                                             {"frobnicate"}}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(parse(args))) << testing::PrintToString(args);
  }
}

TEST(FnxControl, LinesOfTheControlSocket) {
  auto c = std::get<FnxControl>(parseFnxControlLine("insert 2 purse:500"));
  EXPECT_EQ(c.action, FnxControl::Action::kInsert);
  EXPECT_EQ(c.slot, 1);
  c = std::get<FnxControl>(parseFnxControlLine("pull 2"));
  EXPECT_EQ(c.slot, 1);
  c = std::get<FnxControl>(parseFnxControlLine("mute"));
  EXPECT_FALSE(c.unmute);
  EXPECT_EQ(c.count, 0u);
  c = std::get<FnxControl>(parseFnxControlLine("mute 0"));
  EXPECT_TRUE(c.unmute);
  c = std::get<FnxControl>(parseFnxControlLine("share 300"));
  EXPECT_EQ(c.count, 300u);
  for (const char* bad : {"", " status", "status ", "drop-answers -1", "drop-answers 1 2", "share",
                          "insert", "status now"}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(parseFnxControlLine(bad))) << bad;
  }
  EXPECT_TRUE(std::holds_alternative<std::string>(parseFnxControlLine(std::string(300, 'a'))));
}

}  // namespace
}  // namespace k52::sim

#include "sim/vpcd/card_options.h"

#include <gtest/gtest.h>

#include "sim/card/atr.h"

namespace k52::sim {
namespace {

std::variant<CardOptions, std::string> parse(std::vector<std::string_view> args) {
  return parseCardOptions(args);
}

TEST(CardOptions, DefaultsAndEveryOption) {
  const auto defaults = std::get<CardOptions>(parse({}));
  EXPECT_EQ(defaults.port, 35963);
  EXPECT_EQ(defaults.atr, readyAtr(AtrProtocols::kT0AndT1));

  const auto options =
      std::get<CardOptions>(parse({"--port", "40001", "--balance", "1234", "--atr", "t1", "--wait",
                                   "3", "--ready-file", "/tmp/x"}));
  EXPECT_EQ(options.port, 40001);
  EXPECT_EQ(options.balance, 1234u);
  EXPECT_EQ(options.atr, readyAtr(AtrProtocols::kT1));
  EXPECT_EQ(options.wait, std::chrono::seconds(3));
  EXPECT_EQ(options.readyFile, "/tmp/x");
}

TEST(CardOptions, AcceptsAWellFormedHexAtr) {
  const auto options = std::get<CardOptions>(parse({"--atr",
                                                    "3b078031c0738001"
                                                    "00"}));
  EXPECT_EQ(options.atr, readyAtr(AtrProtocols::kT0));
}

class RejectsBadArguments : public ::testing::TestWithParam<std::vector<std::string_view>> {};

TEST_P(RejectsBadArguments, WithAMessage) {
  const auto result = parse(GetParam());
  ASSERT_TRUE(std::holds_alternative<std::string>(result));
  EXPECT_NE(std::get<std::string>(result).find(GetParam().front()), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(CardOptions, RejectsBadArguments,
                         ::testing::Values(std::vector<std::string_view>{"--port"},
                                           std::vector<std::string_view>{"--port", "0"},
                                           std::vector<std::string_view>{"--port", "65536"},
                                           std::vector<std::string_view>{"--port", "12ab"},
                                           std::vector<std::string_view>{"--balance", "1000000"},
                                           std::vector<std::string_view>{"--balance", "-1"},
                                           std::vector<std::string_view>{"--atr", "t2"},
                                           std::vector<std::string_view>{
                                               "--atr", "3b8781"},  // TD1 promised, no TCK
                                           std::vector<std::string_view>{"--atr", "3b0"},
                                           std::vector<std::string_view>{"--atr", "0x3b00"},
                                           std::vector<std::string_view>{"--wait", "forever"},
                                           std::vector<std::string_view>{"--colour", "red"}));

}  // namespace
}  // namespace k52::sim

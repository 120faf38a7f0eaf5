// readerctl's command line: steps with their arguments, and faults named.
#include "tools/readerctl/steps.h"

#include <gtest/gtest.h>

namespace k52::readerctl {
namespace {

std::variant<Invocation, std::string> parse(std::vector<std::string_view> args) {
  return parseInvocation(args);
}

TEST(ReaderctlSteps, StepsAndTheirArguments) {
  auto inv = std::get<Invocation>(
      parse({"--prefix", "/p",  "--slot",  "1",        "COM3",     "attach=2",   "recheck=4",
             "info",     "led", "14",      "speed",    "57600",    "power",      "on",
             "reset",    "1",   "receive", "12",       "transmit", "00A4040007", "1",
             "500",      "50",  "end",     "transmit", "00",       "2",          "receive",
             "3",        "40",  "sleep",   "1500",     "counters"}));
  EXPECT_EQ(inv.port, 3);
  EXPECT_EQ(inv.slot, 1);
  ASSERT_EQ(inv.steps.size(), 13u);
  EXPECT_EQ(inv.steps[0].mode, 2);
  EXPECT_EQ(inv.steps[1].mode, 4);
  EXPECT_EQ(inv.steps[3].value, 14);
  EXPECT_TRUE(inv.steps[5].on);
  EXPECT_EQ(inv.steps[7].first, 1000u);
  const Step& t = inv.steps[8];
  EXPECT_EQ(t.bytes, (std::vector<std::uint8_t>{0x00, 0xA4, 0x04, 0x00, 0x07}));
  EXPECT_EQ(t.expected, 1u);
  EXPECT_EQ(t.first, 500u);
  EXPECT_EQ(t.next, 50u);
  EXPECT_TRUE(t.end);
  EXPECT_FALSE(inv.steps[9].end);
  EXPECT_EQ(inv.steps[10].first, 40u);
  EXPECT_EQ(inv.steps[11].value, 1500);
}

TEST(ReaderctlSteps, FaultsAreNamed) {
  for (std::vector<std::string_view> args :
       std::vector<std::vector<std::string_view>>{{},
                                                  {"COM3"},
                                                  {"COM0", "info"},
                                                  {"COM16", "info"},
                                                  {"LPT1", "info"},
                                                  {"COM3", "attach=1"},
                                                  {"COM3", "recheck=2"},
                                                  {"COM3", "led", "7"},
                                                  {"COM3", "led"},
                                                  {"COM3", "power", "up"},
                                                  {"COM3", "transmit", "0G", "1"},
                                                  {"COM3", "transmit", "001", "1"},
                                                  {"COM3", "transmit", "00"},
                                                  {"COM3", "transmit", "00", "1", "5"},
                                                  {"COM3", "fly"},
                                                  {"--slot", "2", "COM3", "info"},
                                                  {"--bogus", "x", "COM3", "info"},
                                                  {"--prefix"}}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(parse(args))) << testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace k52::readerctl

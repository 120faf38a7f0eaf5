#include "sim/k52fw/serial_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace k52::sim {
namespace {

std::variant<SerialOptions, std::string> parse(std::vector<std::string_view> args) {
  return parseSerialOptions(args);
}

TEST(SerialOptions, ReadsEveryOption) {
  const auto parsed = parse({"--link", "/tmp/k52", "--purse", "1234", "--atr", "t1", "--pin",
                             "123456", "--keypad", "12B3E C"});
  ASSERT_TRUE(std::holds_alternative<std::string>(parsed));  // the space is no key

  const auto good = parse({"--link", "/tmp/k52", "--purse", "1234", "--atr", "t1", "--pin",
                           "123456", "--keypad", "12B3EC"});
  ASSERT_TRUE(std::holds_alternative<SerialOptions>(good)) << std::get<std::string>(good);
  const auto& options = std::get<SerialOptions>(good);
  EXPECT_EQ(options.link, "/tmp/k52");
  EXPECT_EQ(options.purse, 1234u);
  EXPECT_EQ(options.protocols, AtrProtocols::kT1);
  EXPECT_EQ(options.pin, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(options.keypad,
            (std::vector<KeypadKey>{KeypadKey::k1, KeypadKey::k2, KeypadKey::kClear, KeypadKey::k3,
                                    KeypadKey::kEnter, KeypadKey::kCancel}));
  EXPECT_TRUE(std::get<SerialOptions>(parse({"-h"})).help);
}

TEST(SerialOptions, NamesTheBadArgument) {
  for (const auto& args : std::vector<std::vector<std::string_view>>{{"--purse", "1000000"},
                                                                     {"--purse", "12x"},
                                                                     {"--atr", "t2"},
                                                                     {"--pin", "123"},
                                                                     {"--pin", "12a4"},
                                                                     {"--link"},
                                                                     {"--bogus"}}) {
    const auto parsed = parse(args);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << args[0];
    EXPECT_NE(std::get<std::string>(parsed).find(args.back()), std::string::npos);
  }
}

}  // namespace
}  // namespace k52::sim

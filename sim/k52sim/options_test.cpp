#include "sim/k52sim/options.h"

#include <gtest/gtest.h>

#include <vector>

namespace k52::sim {
namespace {

std::variant<K52simOptions, std::string> parse(std::vector<std::string_view> args) {
  return parseK52simOptions(args);
}

TEST(K52simOptions, ServingTakesThePrefixSocketCardAndKeypad) {
  const auto parsed = parse(
      {"--prefix", "/p", "--socket", "/s", "--card", "purse:5:t1:pin=1234", "--keypad", "12E"});
  ASSERT_TRUE(std::holds_alternative<K52simOptions>(parsed)) << std::get<std::string>(parsed);
  const auto& options = std::get<K52simOptions>(parsed);
  EXPECT_EQ(options.prefix, "/p");
  EXPECT_EQ(options.socket, "/s");
  ASSERT_TRUE(options.card);
  EXPECT_EQ(options.card->balance, 5u);
  EXPECT_EQ(options.card->protocols, AtrProtocols::kT1);
  EXPECT_EQ(options.card->pin, (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(options.keypad,
            (std::vector<KeypadKey>{KeypadKey::k1, KeypadKey::k2, KeypadKey::kEnter}));
  EXPECT_TRUE(options.command.empty());
}

TEST(K52simOptions, CommandsBecomeTheirControlLine) {
  const struct {
    std::vector<std::string_view> args;
    std::string line;
  } cases[] = {
      {{"--prefix", "/p", "insert", "pin:123456:both"}, "insert pin:123456:both"},
      {{"pull"}, "pull"},
      {{"keys", "0B9C"}, "keys 0B9C"},
      {{"pin-keys", "1234E"}, "pin-keys 1234E"},
      {{"status"}, "status"},
  };
  for (const auto& c : cases) {
    const auto parsed = parse(c.args);
    ASSERT_TRUE(std::holds_alternative<K52simOptions>(parsed)) << c.line;
    EXPECT_EQ(std::get<K52simOptions>(parsed).command, c.line);
    EXPECT_TRUE(std::holds_alternative<ControlRequest>(parseControlLine(c.line))) << c.line;
  }
}

TEST(K52simOptions, MistakesAreNamed) {
  const struct {
    std::vector<std::string_view> args;
    std::string error;
  } cases[] = {
      {{"--prefix"}, "--prefix needs a value"},
      {{"--verbose"}, "unknown option --verbose"},
      {{"eject"}, "unknown command eject"},
      {{"insert"}, "insert takes one argument"},
      {{"pull", "now"}, "pull takes no argument"},
      {{"keys", "12X"}, "keys takes digits and E, C, B, not 12X"},
      {{"keys", ""}, "keys takes digits and E, C, B, not "},
      {{"--card", "purse:1", "status"}, "--card and --keypad are for serving, not for status"},
      {{"insert", "purse:1000000"}, "card 'purse:1000000': the balance is 0..999999 cents"},
      {{"insert", "pin:123"}, "card 'pin:123': the PIN is 4 to 12 digits"},
      {{"insert", "pin:1234:pin=5678"}, "card 'pin:1234:pin=5678': unexpected 'pin=5678'"},
      {{"insert", "purse:1:t0:t1"}, "card 'purse:1:t0:t1': unexpected 't1'"},
      {{"insert", "card:1"}, "card 'card:1': purse:BALANCE or pin:DIGITS expected"},
      {{"insert", "purse"}, "card 'purse': purse:BALANCE or pin:DIGITS expected"},
  };
  for (const auto& c : cases) {
    const auto parsed = parse(c.args);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.error;
    EXPECT_EQ(std::get<std::string>(parsed), c.error);
  }
  EXPECT_EQ(std::get<std::string>(parseControlLine("status  ")), "status takes no argument");
  EXPECT_EQ(std::get<std::string>(parseControlLine(std::string(300, '1'))),
            "the command is too long");
}

}  // namespace
}  // namespace k52::sim

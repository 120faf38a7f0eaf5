#include "tools/ctapi-shell/shell_command.h"

#include <gtest/gtest.h>

namespace k52::tools {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ShellCommand, AddressesAndHexForms) {
  const struct {
    const char* text;
    std::uint8_t dad;
    Bytes bytes;
  } cases[] = {
      {"ct:20120101", 1, {0x20, 0x12, 0x01, 0x01}},
      {"icc:00 a4 04 0C", 0, {0x00, 0xA4, 0x04, 0x0C}},
      {"2:00B20104", 2, {0x00, 0xB2, 0x01, 0x04}},
      {"20 11 00 00", 1, {0x20, 0x11, 0x00, 0x00}},
      {"20:11:00:00", 1, {0x20, 0x11, 0x00, 0x00}},
      {"00B2 01C4 00", 0, {0x00, 0xB2, 0x01, 0xC4, 0x00}},
  };
  for (const auto& c : cases) {
    auto parsed = parseShellCommand(c.text);
    ASSERT_TRUE(std::holds_alternative<ShellCommand>(parsed)) << c.text;
    EXPECT_EQ(std::get<ShellCommand>(parsed).dad, c.dad) << c.text;
    EXPECT_EQ(std::get<ShellCommand>(parsed).bytes, c.bytes) << c.text;
  }
}

TEST(ShellCommand, MistakesAreNamed) {
  for (const char* text :
       {"ct:2012", "xx:20110000", "300:20110000", "20 1 10 00", "20g10000", ""}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(parseShellCommand(text))) << text;
  }
}

}  // namespace
}  // namespace k52::tools

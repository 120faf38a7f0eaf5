// One command as the shell takes it: "[DAD:]HEX", where DAD is "ct", "icc"
// ("icc1"), "host" or a number 0..255. Without DAD, a command of class 0x20
// goes to the terminal and any other to the card.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace k52::tools {

struct ShellCommand {
  std::uint8_t dad = 0;
  std::vector<std::uint8_t> bytes;
};

// The command, or a message that says what is wrong with the text.
std::variant<ShellCommand, std::string> parseShellCommand(std::string_view text);

}  // namespace k52::tools

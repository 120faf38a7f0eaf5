#include "tools/ctapi-shell/shell_command.h"

#include <charconv>

#include "ctapi/include/ctapi.h"
#include "platform/text/hex.h"

namespace k52::tools {
namespace {

std::variant<std::uint8_t, std::string> parseDad(std::string_view text) {
  if (text == "ct") return std::uint8_t{CTAPI_ADDR_CT};
  if (text == "icc" || text == "icc1") return std::uint8_t{CTAPI_ADDR_ICC1};
  if (text == "host") return std::uint8_t{CTAPI_ADDR_HOST};
  unsigned value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value > 255) {
    return "unknown address '" + std::string(text) + "' (ct, icc, host or 0..255)";
  }
  return static_cast<std::uint8_t>(value);
}

}  // namespace

std::variant<ShellCommand, std::string> parseShellCommand(std::string_view text) {
  ShellCommand command;
  std::string_view hex = text;
  bool dadGiven = false;
  if (auto colon = text.find(':'); colon != std::string_view::npos) {
    // "ct:..." names an address; "20:12:..." is hex with colons.
    const std::string_view head = text.substr(0, colon);
    if (!k52::text::parseHex(head) || head.size() != 2) {
      auto dad = parseDad(head);
      if (auto* error = std::get_if<std::string>(&dad)) return *error;
      command.dad = std::get<std::uint8_t>(dad);
      dadGiven = true;
      hex = text.substr(colon + 1);
    }
  }
  auto bytes = k52::text::parseHex(hex);
  if (!bytes) return "not a hex command: '" + std::string(hex) + "'";
  if (bytes->size() < 4) return "a command needs at least the four header bytes";
  if (bytes->size() > 0xFFFF) return "a command is at most 65535 bytes";
  if (!dadGiven) command.dad = (*bytes)[0] == CTBCS_CLA ? CTAPI_ADDR_CT : CTAPI_ADDR_ICC1;
  command.bytes = std::move(*bytes);
  return command;
}

}  // namespace k52::tools

#include "sim/k52fw/serial_options.h"

#include <charconv>

namespace k52::sim {
namespace {

std::optional<std::vector<KeypadKey>> parseKeys(std::string_view text) {
  std::vector<KeypadKey> keys;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      keys.push_back(digitKey(static_cast<std::uint8_t>(c - '0')));
    } else if (c == 'E') {
      keys.push_back(KeypadKey::kEnter);
    } else if (c == 'C') {
      keys.push_back(KeypadKey::kCancel);
    } else if (c == 'B') {
      keys.push_back(KeypadKey::kClear);
    } else {
      return std::nullopt;
    }
  }
  return keys;
}

}  // namespace

std::variant<SerialOptions, std::string> parseSerialOptions(
    std::span<const std::string_view> args) {
  SerialOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      continue;
    }
    if (arg != "--link" && arg != "--purse" && arg != "--atr" && arg != "--pin" &&
        arg != "--keypad") {
      return "unknown argument " + std::string(arg);
    }
    if (i + 1 == args.size()) return std::string(arg) + " needs a value";
    const std::string_view value = args[++i];
    if (arg == "--link") {
      options.link = value;
    } else if (arg == "--purse") {
      std::uint32_t cents = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), cents);
      if (ec != std::errc() || end != value.data() + value.size() || cents > 999999) {
        return "--purse takes 0..999999, not " + std::string(value);
      }
      options.purse = cents;
    } else if (arg == "--atr") {
      if (value == "t0") {
        options.protocols = AtrProtocols::kT0;
      } else if (value == "t1") {
        options.protocols = AtrProtocols::kT1;
      } else if (value == "both") {
        options.protocols = AtrProtocols::kT0AndT1;
      } else {
        return "--atr takes t0, t1 or both, not " + std::string(value);
      }
    } else if (arg == "--pin") {
      options.pin.clear();
      for (const char c : value) {
        if (c < '0' || c > '9') return "--pin takes digits, not " + std::string(value);
        options.pin.push_back(static_cast<std::uint8_t>(c - '0'));
      }
      if (options.pin.size() < 4 || options.pin.size() > 12) {
        return "--pin takes 4 to 12 digits, not " + std::string(value);
      }
    } else {
      auto keys = parseKeys(value);
      if (!keys) return "--keypad takes digits and E, C, B, not " + std::string(value);
      options.keypad = std::move(*keys);
    }
  }
  return options;
}

}  // namespace k52::sim

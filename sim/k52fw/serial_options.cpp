#include "sim/k52fw/serial_options.h"

#include "sim/k52fw/card_description.h"

namespace k52::sim {

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
      const auto cents = parseBalance(value);
      if (!cents) return "--purse takes 0..999999, not " + std::string(value);
      options.purse = *cents;
    } else if (arg == "--atr") {
      const auto protocols = parseAtrProtocols(value);
      if (!protocols) return "--atr takes t0, t1 or both, not " + std::string(value);
      options.protocols = *protocols;
    } else if (arg == "--pin") {
      auto pin = parsePinDigits(value);
      if (!pin) {
        for (const char c : value) {
          if (c < '0' || c > '9') return "--pin takes digits, not " + std::string(value);
        }
        return "--pin takes 4 to 12 digits, not " + std::string(value);
      }
      options.pin = std::move(*pin);
    } else {
      auto keys = parseKeypadKeys(value);
      if (!keys) return "--keypad takes digits and E, C, B, not " + std::string(value);
      options.keypad = std::move(*keys);
    }
  }
  return options;
}

}  // namespace k52::sim

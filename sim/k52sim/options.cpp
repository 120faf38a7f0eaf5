#include "sim/k52sim/options.h"

namespace k52::sim {

std::variant<K52simOptions, std::string> parseK52simOptions(
    std::span<const std::string_view> args) {
  K52simOptions options;
  std::size_t i = 0;
  for (; i < args.size() && args[i].starts_with("-"); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      continue;
    }
    if (arg != "--prefix" && arg != "--socket" && arg != "--card" && arg != "--keypad") {
      return "unknown option " + std::string(arg);
    }
    if (i + 1 == args.size()) return std::string(arg) + " needs a value";
    const std::string_view value = args[++i];
    if (arg == "--prefix" || arg == "--socket") {
      if (value.empty()) return std::string(arg) + " needs a path";
      (arg == "--prefix" ? options.prefix : options.socket) = std::string(value);
    } else if (arg == "--card") {
      auto card = parseCardDescription(value);
      if (auto* error = std::get_if<std::string>(&card)) return std::move(*error);
      options.card = std::get<CardDescription>(card);
    } else {
      auto keys = parseKeypadKeys(value);
      if (!keys) return "--keypad takes digits and E, C, B, not " + std::string(value);
      options.keypad = std::move(*keys);
    }
  }
  if (i == args.size()) return options;

  const auto words = args.subspan(i);
  if (options.card || !options.keypad.empty()) {
    return "--card and --keypad are for serving, not for " + std::string(words[0]);
  }
  auto request = parseControlRequest(words);
  if (auto* error = std::get_if<std::string>(&request)) return std::move(*error);
  // The words parsed, so none holds a blank or a newline.
  for (const auto word : words) {
    if (!options.command.empty()) options.command += ' ';
    options.command += word;
  }
  if (options.command.size() > kMaxControlLine) return std::string("the command is too long");
  return options;
}

}  // namespace k52::sim

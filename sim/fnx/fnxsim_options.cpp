#include "sim/fnx/fnxsim_options.h"

#include <charconv>
#include <cstdlib>

#include "sim/fnx/fnxsim_control.h"

namespace k52::sim {

namespace {

std::optional<long> number(std::string_view text, long min, long max) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < min ||
      value > max) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::variant<FnxsimOptions, std::string> parseFnxsimOptions(
    std::span<const std::string_view> args) {
  FnxsimOptions o;
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (!arg.starts_with("--")) break;
    if (arg == "--help") {
      o.help = true;
      continue;
    }
    if (i + 1 >= args.size()) return "\"" + std::string(arg) + "\" needs a value";
    const std::string_view value = args[++i];
    auto bad = [&] {
      return "bad value for " + std::string(arg) + ": \"" + std::string(value) + "\"";
    };
    if (arg == "--prefix") {
      o.prefix = std::string(value);
    } else if (arg == "--socket") {
      o.socket = std::string(value);
    } else if (arg == "--link") {
      o.link = std::string(value);
    } else if (arg == "--trace") {
      o.trace = std::string(value);
    } else if (arg == "--type") {
      auto n = number(value, 1, 13);
      if (!n) return bad();
      o.config.type = static_cast<int>(*n);
    } else if (arg == "--firmware") {
      auto n = number(value, 0, 255);
      if (!n) return bad();
      o.config.firmware = static_cast<std::uint8_t>(*n);
    } else if (arg == "--lot" || arg == "--serial") {
      auto n = number(value, 0, 65535);
      if (!n) return bad();
      (arg == "--lot" ? o.config.lot : o.config.serial) = static_cast<std::uint16_t>(*n);
    } else if (arg == "--max-speed") {
      auto n = number(value, 300, 4000000);
      if (!n) return bad();
      o.config.maxSpeed = static_cast<std::int32_t>(*n);
    } else if (arg == "--card" || arg == "--card2") {
      auto card = parseCardDescription(value);
      if (auto* message = std::get_if<std::string>(&card)) return *message;
      o.cards[arg == "--card2" ? 1 : 0] = std::get<CardDescription>(card);
    } else if (arg == "--driver") {
      auto n = number(value, 1, 15);
      if (!n) return bad();
      o.driver = static_cast<int>(*n);
    } else if (arg == "--faults") {
      const std::size_t comma = value.find(',');
      if (comma == std::string_view::npos) return bad();
      auto seed = number(value.substr(0, comma), 0, 0xFFFFFFFF);
      const std::string rate(value.substr(comma + 1));
      char* end = nullptr;
      const double r = std::strtod(rate.c_str(), &end);
      if (!seed || rate.empty() || end != rate.c_str() + rate.size() || !(r >= 0 && r <= 1)) {
        return bad();
      }
      o.faultSeed = static_cast<unsigned>(*seed);
      o.faultRate = r;
    } else {
      return "unknown option \"" + std::string(arg) + "\"";
    }
  }
  if (o.cards[1] && o.config.type != 7 && o.config.type != 8) {
    return std::string("--card2 needs a twin reader (--type 7 or 8)");
  }
  if (o.link && o.driver != 0) return std::string("--link and --driver exclude each other");
  for (; i < args.size(); ++i) {
    if (!o.command.empty()) o.command += ' ';
    o.command += args[i];
  }
  if (!o.command.empty()) {
    auto parsed = parseFnxControlLine(o.command);
    if (auto* message = std::get_if<std::string>(&parsed)) return *message;
  }
  return o;
}

}  // namespace k52::sim

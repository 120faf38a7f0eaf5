#include "sim/vpcd/card_options.h"

#include <charconv>
#include <optional>

#include "platform/text/hex.h"
#include "sim/card/atr.h"

namespace k52::sim {
namespace {

template <typename T>
std::optional<T> number(std::string_view text, T max) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

std::optional<std::vector<std::uint8_t>> atrArgument(std::string_view text) {
  if (text == "t0") return readyAtr(AtrProtocols::kT0);
  if (text == "t1") return readyAtr(AtrProtocols::kT1);
  if (text == "both") return readyAtr(AtrProtocols::kT0AndT1);
  auto bytes = k52::text::parseHex(text);
  if (!bytes || !parseAtr(*bytes)) return std::nullopt;
  return bytes;
}

}  // namespace

std::variant<CardOptions, std::string> parseCardOptions(std::span<const std::string_view> args) {
  CardOptions options;
  options.atr = readyAtr(AtrProtocols::kT0AndT1);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view flag = args[i];
    if (flag == "--help" || flag == "-h") {
      options.help = true;
      continue;
    }
    if (i + 1 == args.size()) return "missing value after " + std::string(flag);
    const std::string_view value = args[++i];
    const std::string bad = "invalid " + std::string(flag) + " '" + std::string(value) + "'";
    if (flag == "--port") {
      const auto port = number<std::uint16_t>(value, 0xFFFF);
      if (!port || *port == 0) return bad;
      options.port = *port;
    } else if (flag == "--balance") {
      const auto balance = number<std::uint32_t>(value, 999999);
      if (!balance) return bad;
      options.balance = *balance;
    } else if (flag == "--atr") {
      auto atr = atrArgument(value);
      if (!atr) return bad;
      options.atr = std::move(*atr);
    } else if (flag == "--wait") {
      const auto seconds = number<std::uint32_t>(value, 3600);
      if (!seconds) return bad;
      options.wait = std::chrono::seconds(*seconds);
    } else if (flag == "--ready-file") {
      if (value.empty()) return bad;
      options.readyFile = value;
    } else {
      return "unknown option " + std::string(flag);
    }
  }
  return options;
}

}  // namespace k52::sim

#include "sim/k52fw/card_description.h"

#include <charconv>

#include "sim/card/pin_application.h"
#include "sim/card/purse.h"
#include "sim/k52fw/pin_command.h"

namespace k52::sim {

std::optional<std::uint32_t> parseBalance(std::string_view text) {
  std::uint32_t cents = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), cents);
  if (ec != std::errc() || end != text.data() + text.size() || cents > 999999) return std::nullopt;
  return cents;
}

std::optional<AtrProtocols> parseAtrProtocols(std::string_view text) {
  if (text == "t0") return AtrProtocols::kT0;
  if (text == "t1") return AtrProtocols::kT1;
  if (text == "both") return AtrProtocols::kT0AndT1;
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> parsePinDigits(std::string_view text) {
  if (text.size() < 4 || text.size() > 12) return std::nullopt;
  std::vector<std::uint8_t> digits;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    digits.push_back(static_cast<std::uint8_t>(c - '0'));
  }
  return digits;
}

std::variant<CardDescription, std::string> parseCardDescription(std::string_view text) {
  const std::string quoted = "card '" + std::string(text) + "': ";
  std::vector<std::string_view> fields;
  for (std::size_t at = 0;;) {
    const std::size_t colon = text.find(':', at);
    fields.push_back(text.substr(at, colon == std::string_view::npos ? colon : colon - at));
    if (colon == std::string_view::npos) break;
    at = colon + 1;
  }
  if (fields.size() < 2) return quoted + "purse:BALANCE or pin:DIGITS expected";
  CardDescription description;
  if (fields[0] == "purse") {
    const auto balance = parseBalance(fields[1]);
    if (!balance) return quoted + "the balance is 0..999999 cents";
    description.balance = *balance;
  } else if (fields[0] == "pin") {
    auto pin = parsePinDigits(fields[1]);
    if (!pin) return quoted + "the PIN is 4 to 12 digits";
    description.pin = std::move(*pin);
  } else {
    return quoted + "purse:BALANCE or pin:DIGITS expected";
  }
  bool protocolsGiven = false;
  for (std::size_t i = 2; i < fields.size(); ++i) {
    const std::string_view field = fields[i];
    if (const auto protocols = parseAtrProtocols(field); protocols && !protocolsGiven) {
      description.protocols = *protocols;
      protocolsGiven = true;
    } else if (field.starts_with("pin=") && description.pin.empty()) {
      auto pin = parsePinDigits(field.substr(4));
      if (!pin) return quoted + "the PIN is 4 to 12 digits";
      description.pin = std::move(*pin);
    } else {
      return quoted + "unexpected '" + std::string(field) + "'";
    }
  }
  return description;
}

std::shared_ptr<Card> makeCard(const CardDescription& description) {
  auto card = std::make_shared<Card>(
      makePurseCard(PurseConfig{.balance = description.balance}, description.protocols));
  if (!description.pin.empty())
    card->install(std::make_unique<PinApplication>(format2PinBlock(description.pin)));
  return card;
}

}  // namespace k52::sim

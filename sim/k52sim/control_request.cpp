#include "sim/k52sim/control_request.h"

namespace k52::sim {
namespace {

struct Subcommand {
  std::string_view name;
  ControlRequest::Action action;
  bool takesArgument;
};

constexpr Subcommand kSubcommands[] = {
    {"insert", ControlRequest::Action::kInsert, true},
    {"pull", ControlRequest::Action::kPull, false},
    {"keys", ControlRequest::Action::kKeys, true},
    {"pin-keys", ControlRequest::Action::kPinKeys, true},
    {"status", ControlRequest::Action::kStatus, false},
};

}  // namespace

std::variant<ControlRequest, std::string> parseControlRequest(
    std::span<const std::string_view> words) {
  if (words.empty()) return std::string("a command is missing");
  const Subcommand* subcommand = nullptr;
  for (const auto& candidate : kSubcommands) {
    if (candidate.name == words[0]) subcommand = &candidate;
  }
  if (!subcommand) return "unknown command " + std::string(words[0]);
  const std::string name(subcommand->name);
  if (subcommand->takesArgument && words.size() != 2) return name + " takes one argument";
  if (!subcommand->takesArgument && words.size() != 1) return name + " takes no argument";

  ControlRequest request;
  request.action = subcommand->action;
  if (request.action == ControlRequest::Action::kInsert) {
    auto card = parseCardDescription(words[1]);
    if (auto* error = std::get_if<std::string>(&card)) return std::move(*error);
    request.card = std::get<CardDescription>(card);
  } else if (subcommand->takesArgument) {
    auto keys = parseKeypadKeys(words[1]);
    if (!keys || keys->empty())
      return name + " takes digits and E, C, B, not " + std::string(words[1]);
    request.keys = std::move(*keys);
  }
  return request;
}

std::variant<ControlRequest, std::string> parseControlLine(std::string_view line) {
  if (line.size() > kMaxControlLine) return std::string("the command is too long");
  std::vector<std::string_view> words;
  for (std::size_t at = 0;;) {
    const std::size_t space = line.find(' ', at);
    words.push_back(line.substr(at, space == std::string_view::npos ? space : space - at));
    if (space == std::string_view::npos) break;
    at = space + 1;
  }
  return parseControlRequest(words);
}

}  // namespace k52::sim

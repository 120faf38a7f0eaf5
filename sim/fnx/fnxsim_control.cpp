#include "sim/fnx/fnxsim_control.h"

#include <charconv>
#include <vector>

namespace k52::sim {

namespace {

constexpr unsigned kMaxCount = 1000000;

std::optional<unsigned> count(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > kMaxCount) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::variant<FnxControl, std::string> parseFnxControl(std::span<const std::string_view> words) {
  if (words.empty()) return std::string("no command");
  FnxControl c;
  const std::string_view verb = words[0];
  std::span<const std::string_view> rest = words.subspan(1);
  auto takeSlot = [&] {
    if (!rest.empty() && (rest[0] == "1" || rest[0] == "2") &&
        (verb == "pull" || rest.size() > 1)) {
      c.slot = rest[0] == "2" ? 1 : 0;
      rest = rest.subspan(1);
    }
  };
  auto takeCount = [&](bool optional) -> std::optional<std::string> {
    if (rest.empty() && optional) return std::nullopt;
    if (rest.size() != 1) return "\"" + std::string(verb) + "\" takes one number";
    const auto n = count(rest[0]);
    if (!n) return "not a count: \"" + std::string(rest[0]) + "\"";
    c.count = *n;
    return std::nullopt;
  };
  std::optional<std::string> error;
  if (verb == "insert") {
    c.action = FnxControl::Action::kInsert;
    takeSlot();
    if (rest.size() != 1) return std::string("usage: insert [2] CARD");
    auto card = parseCardDescription(rest[0]);
    if (auto* message = std::get_if<std::string>(&card)) return *message;
    c.card = std::get<CardDescription>(card);
    return c;
  }
  if (verb == "pull") {
    c.action = FnxControl::Action::kPull;
    takeSlot();
    if (!rest.empty()) return std::string("usage: pull [2]");
    return c;
  }
  if (verb == "status") {
    if (!rest.empty()) return std::string("\"status\" takes nothing");
    return c;
  }
  if (verb == "drop-answers") {
    c.action = FnxControl::Action::kDropAnswers;
  } else if (verb == "drop-commands") {
    c.action = FnxControl::Action::kDropCommands;
  } else if (verb == "garble") {
    c.action = FnxControl::Action::kGarble;
  } else if (verb == "share") {
    c.action = FnxControl::Action::kShare;
  } else if (verb == "mute") {
    c.action = FnxControl::Action::kMute;
    if (auto e = takeCount(true)) return *e;
    c.unmute = !rest.empty() && c.count == 0;
    return c;
  } else {
    return "unknown command \"" + std::string(verb) + "\"";
  }
  if (auto e = takeCount(false)) return *e;
  return c;
}

std::variant<FnxControl, std::string> parseFnxControlLine(std::string_view line) {
  if (line.size() > kMaxFnxControlLine) return std::string("control line too long");
  std::vector<std::string_view> words;
  std::size_t start = 0;
  while (start <= line.size()) {
    const std::size_t space = line.find(' ', start);
    const std::size_t end = space == std::string_view::npos ? line.size() : space;
    if (end == start) return std::string("empty word in the control line");
    words.push_back(line.substr(start, end - start));
    if (space == std::string_view::npos) break;
    start = space + 1;
  }
  return parseFnxControl(words);
}

}  // namespace k52::sim

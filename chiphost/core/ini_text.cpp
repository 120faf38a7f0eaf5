#include "chiphost/core/ini_text.h"

#include "chiphost/core/text_rules.h"

namespace k52::chiphost {
namespace {

std::string_view unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

}  // namespace

IniText::IniText(std::string_view text) {
  std::map<std::string, std::string>* section = nullptr;
  bool firstOccurrence = false;
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    std::string_view line = trimBlanks(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      const std::string name = ansiUpper(trimBlanks(line.substr(1, close - 1)));
      firstOccurrence = !sections_.contains(name);
      section = &sections_[name];
      continue;
    }
    const std::size_t equals = line.find('=');
    if (section == nullptr || !firstOccurrence || equals == std::string_view::npos) continue;
    section->try_emplace(ansiUpper(trimBlanks(line.substr(0, equals))),
                         unquote(trimBlanks(line.substr(equals + 1))));
  }
}

std::string IniText::value(std::string_view section, std::string_view key) const {
  const auto s = sections_.find(ansiUpper(section));
  if (s == sections_.end()) return {};
  const auto k = s->second.find(ansiUpper(key));
  return k == s->second.end() ? std::string() : k->second;
}

}  // namespace k52::chiphost

#include "chiphost/core/error_texts.h"

#include <fstream>
#include <sstream>
#include <vector>

#include "chiphost/core/text_rules.h"

namespace k52::chiphost {
namespace {

std::vector<std::string_view> fields(std::string_view text) {
  std::vector<std::string_view> out;
  while (true) {
    const std::size_t comma = text.find(',');
    out.push_back(text.substr(0, comma));
    if (comma == std::string_view::npos) return out;
    text.remove_prefix(comma + 1);
  }
}

}  // namespace

ErrorTexts ErrorTexts::load(const std::filesystem::path& programDirectory) {
  std::ifstream in(programDirectory / kErrorTextFileName, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return ErrorTexts(text.str());
}

std::string ErrorTexts::text(std::string_view language, std::uint32_t code) const {
  return file_.value(language, hex4(code)).substr(0, 250);
}

std::string ErrorTexts::format(std::string_view language, std::uint32_t code,
                               std::string_view errorText) const {
  std::string text = this->text(language, code);
  const std::vector<std::string_view> args = fields(errorText);
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string mark = "#";
    mark += std::to_string(i);
    const std::size_t at = text.find(mark);
    if (at != std::string::npos) text.replace(at, mark.size(), unescapeArgument(args[i]));
  }
  return text.substr(0, 255);
}

std::string ErrorTexts::errText(std::string_view language, std::string_view errorText) const {
  std::string text = format(language, errorCodeOf(errorText), errorText);
  if (text.empty()) text = "SmartCard Error: " + std::string(errorText.substr(0, 97));
  return text;
}

std::uint32_t errorCodeOf(std::string_view errorText) {
  return parseHexValue(errorText.substr(0, errorText.find(','))) & 0xFFFF;
}

std::string unescapeArgument(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '#' || i + 1 == field.size()) {
      out.push_back(field[i]);
      continue;
    }
    switch (field[i + 1]) {
      case '#':
        out.push_back('#');
        break;
      case 'K':
        out.push_back(',');
        break;
      case 'L':
        out.push_back('\r');
        break;
      case 'N':
        out.push_back('\n');
        break;
      default:
        out.append(field.substr(i, 2));
        break;
    }
    ++i;
  }
  return std::string(trimBlanks(out));
}

}  // namespace k52::chiphost

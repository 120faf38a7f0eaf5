// Reading INI-format text the way the platform's profile functions do:
// "[Section]" headers, "key=value" lines, names compared without regard to
// case, blanks around names and values dropped, one pair of enclosing quotes
// taken off a value, lines starting with ';' ignored. The first occurrence of
// a section and of a key within it wins.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace k52::chiphost {

class IniText {
 public:
  IniText() = default;
  explicit IniText(std::string_view text);

  // The value, or "" when the section or key is missing.
  std::string value(std::string_view section, std::string_view key) const;

 private:
  // Upper-cased section name -> upper-cased key -> value.
  std::map<std::string, std::map<std::string, std::string>> sections_;
};

}  // namespace k52::chiphost

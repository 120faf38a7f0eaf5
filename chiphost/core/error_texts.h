// User texts for error codes, from the error text file "SCARD.ERR".
//
// The file lies in the program's directory: one INI section per language
// ("GERMAN" is the default), keys of four hexadecimal digits. Texts may hold
// placeholders "#1", "#2", ... that are filled from the arguments of the
// session's error text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "chiphost/core/ini_text.h"

namespace k52::chiphost {

inline constexpr std::string_view kErrorTextFileName = "SCARD.ERR";

class ErrorTexts {
 public:
  ErrorTexts() = default;
  explicit ErrorTexts(std::string_view fileText) : file_(fileText) {}

  // Reads "SCARD.ERR" of the given program directory; a missing file gives no
  // texts.
  static ErrorTexts load(const std::filesystem::path& programDirectory);

  // The raw text of a code in a language, at most 250 characters.
  std::string text(std::string_view language, std::uint32_t code) const;

  // The text for the code, its placeholders filled from the arguments of
  // `errorText` ("1009,Editor" fills "#1" with "Editor"); cut to 255.
  std::string format(std::string_view language, std::uint32_t code,
                     std::string_view errorText) const;

  // The ErrText property: the text for the code of `errorText` itself, or
  // "SmartCard Error: " and the error text when the file has none.
  std::string errText(std::string_view language, std::string_view errorText) const;

 private:
  IniText file_;
};

// The code of an error text: its first comma-separated field read as
// hexadecimal, kept to 16 bits.
std::uint32_t errorCodeOf(std::string_view errorText);

// An argument of an error text with its escapes resolved: "##" is '#', "#K"
// a comma, "#L" carriage return, "#N" line feed; then trimmed.
std::string unescapeArgument(std::string_view field);

}  // namespace k52::chiphost

// The core's UTF-8 texts as the toolkit's strings.
#pragma once

#include <wx/string.h>

#include <string_view>

namespace k52::balview {

inline wxString wxText(std::string_view utf8) {
  return wxString::FromUTF8(utf8.data(), utf8.size());
}

}  // namespace k52::balview

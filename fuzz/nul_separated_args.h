// Command lines for the fuzz targets: the input's arguments separated by NUL
// bytes, an empty input being one empty argument.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

namespace k52::fuzz {

inline std::vector<std::string_view> nulSeparatedArgs(std::string_view text) {
  std::vector<std::string_view> args;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find('\0', at), text.size());
    args.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return args;
}

}  // namespace k52::fuzz

#include "chiphost/server/command_line.h"

#include <stdexcept>

namespace k52::chiphost {
namespace {

// Leading decimal digits, as the platform's atoi reads them; 0 when there
// are none, saturated at the 32-bit maximum.
std::int64_t leadingNumber(const std::string& text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), 0xFFFFFFFF);
  return negative ? -value : value;
}

}  // namespace

ServerCommandLine parseServerCommandLine(const std::vector<std::string>& args) {
  ServerCommandLine out;
  std::vector<std::string> parameters;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      out.help = true;
    } else if (a == "--prefix") {
      if (i + 1 >= args.size()) throw std::invalid_argument("--prefix needs a directory");
      out.prefix = args[++i];
    } else if (a.rfind("--prefix=", 0) == 0) {
      out.prefix = a.substr(9);
    } else if (a.rfind("--", 0) == 0) {
      throw std::invalid_argument("unknown option " + a);
    } else {
      parameters.push_back(a);
    }
  }
  if (!parameters.empty()) {
    const auto limit = leadingNumber(parameters[0]);
    out.options.idleLimit =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(limit, 0, 0x7FFFFFFF));
  }
  if (parameters.size() > 1) {
    const auto window = leadingNumber(parameters[1]);
    out.options.launcher = window > 0 ? static_cast<win32::HWND>(window) : 0;
  }
  return out;
}

}  // namespace k52::chiphost

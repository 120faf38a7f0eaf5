#include "tools/purse/command_line.h"

namespace k52::balview {

CommandLine parseCommandLine(const std::vector<std::string_view>& args) {
  CommandLine line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "-h" || arg == "--help") {
      line.help = true;
    } else if (arg == "--text") {
      line.text = true;
    } else if (arg == "--version-info") {
      line.versionInfo = true;
    } else if (arg == "--prefix") {
      if (i + 1 == args.size()) throw UsageError("--prefix needs a directory");
      line.prefix = std::string(args[++i]);
    } else if (arg.starts_with("--prefix=")) {
      line.prefix = std::string(arg.substr(9));
    } else {
      throw UsageError("unknown argument '" + std::string(arg) + "'");
    }
  }
  if (line.prefix && line.prefix->empty()) throw UsageError("--prefix needs a directory");
  if (line.versionInfo && !line.text) throw UsageError("--version-info goes with --text");
  return line;
}

}  // namespace k52::balview

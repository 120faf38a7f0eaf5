#include "tools/k52reg/command_line.h"

namespace k52::k52reg {

namespace {

bool isOption(std::string_view arg) {
  return arg == "-h" || arg.starts_with("--");
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string_view>& args) {
  CommandLine line;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (optionsEnded || !isOption(arg)) {
      if (line.command.empty()) {
        line.command = arg;
      } else {
        line.operands.emplace_back(arg);
      }
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (line.command.empty() && (arg == "--prefix" || arg.starts_with("--prefix="))) {
      std::string_view dir;
      if (arg == "--prefix") {
        if (++i == args.size()) throw UsageError("--prefix needs a directory");
        dir = args[i];
      } else {
        dir = arg.substr(9);
      }
      if (dir.empty()) throw UsageError("--prefix needs a directory");
      line.prefix = std::string(dir);
    } else if (line.command == "set" && (arg == "--dword" || arg == "--hex" || arg == "--string")) {
      line.type = arg == "--dword" ? ValueType::Dword
                  : arg == "--hex" ? ValueType::Binary
                                   : ValueType::String;
    } else {
      throw UsageError("unknown option " + std::string(arg) +
                       (line.command.empty() ? "" : " for " + line.command));
    }
  }
  if (line.command.empty() && !line.help) throw UsageError("no command given");
  return line;
}

}  // namespace k52::k52reg

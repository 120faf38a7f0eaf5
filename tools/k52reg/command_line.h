// The k52reg command line: global options, the command and its operands.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace k52::k52reg {

enum class ValueType { String, Dword, Binary };

struct CommandLine {
  std::optional<std::string> prefix;
  bool help = false;
  std::string command;  // empty only with --help
  std::vector<std::string> operands;
  ValueType type = ValueType::String;  // set --dword / --hex
};

// A command line that cannot be run; the message says why.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// `args` without the program name. "--" ends the options, so that operands
// may start with "--".
CommandLine parseCommandLine(const std::vector<std::string_view>& args);

}  // namespace k52::k52reg

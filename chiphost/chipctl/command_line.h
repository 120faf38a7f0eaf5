// chipctl's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace k52::chiphost::chipctl {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Command {
  std::string text;
  std::vector<std::uint8_t> data;  // from the --data before it
};

struct Options {
  std::optional<std::string> prefix;
  bool sharedMemory = false;
  bool hex = false;
  bool watch = false;
  std::optional<std::int64_t> watchSeconds;  // nullopt: until interrupted
  bool help = false;
  std::vector<Command> commands;
};

// Throws UsageError for an unknown option, a missing or malformed value, a
// --data without a command after it, or neither commands nor --watch.
Options parseCommandLine(const std::vector<std::string>& args);

inline constexpr const char* kUsage =
    R"(usage: chipctl [OPTIONS] [--data HEX] COMMAND [[--data HEX] COMMAND]...

Sends commands of the card server's language ('System,Info',
'Device,List', ...) and prints the replies. The server is started when none
runs. All commands of one call use one session, in the order given.

  --data HEX          a data block (hex bytes) for the command that follows
  --hex               print reply data as hex instead of text
  --shm               use the shared-memory transport (mailslot and mapping)
                      instead of window messages
  --watch             after the commands, register for notifications and
                      print each code as it arrives, until interrupted
  --watch-seconds N   as --watch, for N seconds
  --prefix DIR        the Windows prefix (default: $K52_PREFIX, else
                      ~/.local/share/k52kit)
  --help              this text

Exit status: 0 when every command succeeded, 1 when one failed (its code and
error text are printed), 2 for a wrong command line.
)";

}  // namespace k52::chiphost::chipctl

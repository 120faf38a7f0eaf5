// The command line of balview.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace k52::balview {

struct CommandLine {
  bool help = false;
  bool text = false;         // --text: no window, print to standard output
  bool versionInfo = false;  // --version-info: the version lines instead of the balance
  std::optional<std::string> prefix;
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws UsageError for an unknown option or a missing value.
CommandLine parseCommandLine(const std::vector<std::string_view>& args);

inline constexpr char kUsage[] = R"(usage: balview [--prefix DIR] [--text [--version-info]]

Reads the balance of a Geldkarte through the CT-API library the installation
names (HKLM\Software\Morvex\Settings "CTAPI DLL", else ctqts32.dll) and shows
it in a window; "Test" reads the card.

options:
  --prefix DIR     the Windows prefix (else $K52_PREFIX, else
                   ~/.local/share/k52kit); the CT-API library uses it too
  --text           no window: read the card once and print the balance or
                   the message the window would show
  --version-info   with --text: print the interface, driver and firmware
                   versions the version dialog shows
  -h, --help       this text

Exit status with --text: 0 when a balance (or, with --version-info, the
versions) could be read, 1 otherwise, 2 for a bad command line.
)";

}  // namespace k52::balview

// The server's command line: [--prefix DIR] [IDLE-LIMIT [WINDOW]].
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "chiphost/server/server.h"

namespace k52::chiphost {

struct ServerCommandLine {
  ServerOptions options;
  std::optional<std::string> prefix;
  bool help = false;
};

// Parameter 1 is the idle limit in decimal seconds, parameter 2 a window
// handle in decimal; a parameter that is no number counts as 0, as does a
// negative one, and further parameters are ignored. std::invalid_argument for
// --prefix without a directory or an unknown option.
ServerCommandLine parseServerCommandLine(const std::vector<std::string>& args);

inline constexpr const char* kServerUsage =
    R"(usage: chiphost [--prefix DIR] [IDLE-LIMIT [WINDOW]]

The card server: a background process without a visible window that client
programs reach through its channel (window messages, or mailslot and shared
memory) and drive with its command language. Only one runs per prefix; a
second one ends at once.

  IDLE-LIMIT   seconds to go on running while no client window exists
               (decimal; 0 or absent: run until killed)
  WINDOW       a client window (decimal handle) told once the server is up
  --prefix DIR the Windows prefix whose windows and objects it uses
               (default: $K52_PREFIX, else ~/.local/share/k52kit)
  --help       this text
)";

}  // namespace k52::chiphost

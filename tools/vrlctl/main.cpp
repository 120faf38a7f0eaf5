// vrlctl: the channel driver's control requests from the command line, on a
// simulated PC with the K52 keyboard.
#include <unistd.h>

#include <iostream>

#include "tools/vrlctl/command_line.h"
#include "tools/vrlctl/session.h"

namespace {

constexpr const char* kUsage =
    R"(usage: vrlctl [--user] [--prefix DIR] COMMAND [ARGS] [COMMAND [ARGS]]...

Starts a simulated PC with the K52 keyboard, loads the vrlPCSC channel driver
(its parameters come from the registry of the prefix DIR, else $K52_PREFIX,
else ~/.local/share/k52kit), opens \\.\vrlPCSC as a tool does and carries out
the commands in order, one output line each. Values are hex.

channel requests:
  version                 interface version
  hook | unhook           put the filter into the keyboard stack, or take it out
  fifo-count              bytes waiting in the FIFO
  fifo-read | fifo-peek   the oldest FIFO entry, taken out or left in
  fifo-clear              empty the FIFO
  filter-on | filter-off  set or clear bit 01 of the filter mode
  filter-mode             the filter mode word
  filter-set WORD         exchange the filter mode word (21: filter on, as attached)
  tick                    the driver's millisecond clock
  ack | hold              the awaiting-acknowledgment and send-hold flags
port requests (a privileged caller only: root, unless --user):
  cmdbyte                 read the keyboard controller's command byte
  cmdbyte-set BYTE        write it
  port-read 60|64         read the data or the status port
  port-write 60|64 BYTE   write a byte to the data or the command port
  kbint-on | kbint-off    unmask or mask the keyboard interrupt
simulation:
  keys CODE...            the keyboard sends these scan codes
  wait MS                 let MS milliseconds of simulated time pass
  typed                   the codes the system's keystroke reader received

options:
  --user                  make requests as an unprivileged user
  --prefix DIR            the prefix whose registry holds the driver parameters
  -h, --help              this text

The driver holds back sending for its first second, as at system start.
Example: vrlctl filter-set 21 hook keys 64 7f 10 10 10 11 1a 1b 2c fifo-count typed

Exit status: 0 on success, 1 when a request failed, 2 for a bad command line.
)";

}  // namespace

int main(int argc, char** argv) {
  using namespace k52;
  try {
    const vrlctl::CommandLine line =
        vrlctl::parseCommandLine(std::vector<std::string_view>(argv + 1, argv + argc));
    if (line.help) {
      std::cout << kUsage;
      return 0;
    }
    const bool privileged = !line.asUser && ::geteuid() == 0;
    return vrlctl::runSession(line, privileged, std::cout, std::cerr);
  } catch (const vrlctl::UsageError& e) {
    std::cerr << "vrlctl: " << e.what() << "\nTry 'vrlctl --help'.\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "vrlctl: " << e.what() << '\n';
    return 1;
  }
}

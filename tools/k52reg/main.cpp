// k52reg: reads and writes the registry of a prefix from the shell.
#include <iostream>

#include "platform/win32/registry.h"
#include "tools/k52reg/command_line.h"
#include "tools/k52reg/commands.h"

namespace {

constexpr const char* kUsage = R"(usage: k52reg [--prefix DIR] COMMAND [ARGS]

Reads and writes the registry of a prefix (DIR, else $K52_PREFIX, else
~/.local/share/k52kit). KEY is a full key name such as HKCU\CTAPIDLL.INI\OPT
(HKLM, HKCU or their long forms); NAME @ is the key's default value.

commands:
  set [--dword|--hex] KEY NAME VALUE
                      store a string, or a number (--dword: 42, 0x2a), or
                      bytes (--hex: 01,a2,ff); creates the key as needed
  get KEY NAME        print a value, in the form set takes it
  delete KEY [NAME]   remove a value, or the key with its subkeys
  import FILE|-       merge a REGEDIT4 file (- reads standard input)
  export [KEY]        print REGEDIT4 text of a key, or of both hives

Exit status: 0 on success, 1 when a value or key does not exist or the
registry cannot be read or written, 2 for a bad command line.
)";

}  // namespace

int main(int argc, char** argv) {
  using namespace k52;
  try {
    const k52reg::CommandLine line =
        k52reg::parseCommandLine(std::vector<std::string_view>(argv + 1, argv + argc));
    if (line.help) {
      std::cout << kUsage;
      return 0;
    }
    win32::Registry registry(win32::Prefix::resolve(line.prefix));
    const int status = k52reg::runCommand(line, registry, std::cin, std::cout, std::cerr);
    if (!std::cout.flush()) {
      std::cerr << "k52reg: cannot write the output\n";
      return 1;
    }
    return status;
  } catch (const k52reg::UsageError& e) {
    std::cerr << "k52reg: " << e.what() << "\nTry 'k52reg --help'.\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "k52reg: " << e.what() << '\n';
    return 1;
  }
}

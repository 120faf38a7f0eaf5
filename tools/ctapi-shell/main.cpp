// ctapi-shell: drives any CT-API library from the command line.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/text/hex.h"
#include "tools/ctapi-shell/shell_command.h"

namespace {

constexpr char kUsage[] =
    "Usage: ctapi-shell [options] LIBRARY [COMMAND...]\n"
    "\n"
    "Loads the CT-API library LIBRARY (a file path), opens a terminal with\n"
    "CT_init, sends each COMMAND with CT_data, prints the response, SW1 SW2 and\n"
    "the return code, and closes the terminal with CT_close. Without COMMAND\n"
    "arguments the commands are read from standard input, one per line\n"
    "(empty lines and lines starting with # are skipped).\n"
    "\n"
    "COMMAND is [DAD:]HEX, for example ct:20120101 or \"icc:00 A4 04 0C\".\n"
    "DAD is ct, icc, host or a number; without it a command of class 20 goes\n"
    "to the terminal (ct) and any other to the card (icc).\n"
    "\n"
    "Options:\n"
    "  --ctn N       terminal number (default 1)\n"
    "  --pn N        port number for CT_init (default 1)\n"
    "  --lenr N      response buffer size (default 258, at most 65535)\n"
    "  --prefix DIR  the Windows prefix the library reads (sets K52_PREFIX)\n"
    "  -q, --quiet   print only the response bytes, one line per command\n"
    "  --readers     list the PC/SC readers the library sees (libraries that\n"
    "                export CT_getrd) and exit\n"
    "  -h, --help    this text\n"
    "\n"
    "Exit status: 0 when every call returned OK, 1 when one did not, 2 when\n"
    "the library or the arguments are unusable.\n";

using InitFn = std::int8_t (*)(std::uint16_t, std::uint16_t);
using DataFn = std::int8_t (*)(std::uint16_t, std::uint8_t*, std::uint8_t*, std::uint16_t,
                               const std::uint8_t*, std::uint16_t*, std::uint8_t*);
using CloseFn = std::int8_t (*)(std::uint16_t);
using GetReadersFn = std::int32_t (*)(char*, std::uint32_t*);

const char* resultName(int rc) {
  switch (rc) {
    case 0:
      return "OK";
    case -1:
      return "ERR_INVALID";
    case -8:
      return "ERR_CT";
    case -10:
      return "ERR_TRANS";
    case -11:
      return "ERR_MEMORY";
    case -128:
      return "ERR_HTSI";
    default:
      return "unknown";
  }
}

struct Options {
  unsigned long ctn = 1, pn = 1, lenr = 258;
  bool quiet = false;
  bool listReaders = false;
  std::string library;
  std::vector<std::string> commands;
};

[[noreturn]] void usageError(const std::string& message) {
  std::cerr << "ctapi-shell: " << message << "\nTry 'ctapi-shell --help'.\n";
  std::exit(2);
}

unsigned long number(const std::string& option, const char* text, unsigned long max) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 0);
  if (!*text || *end || value > max) usageError("bad value for " + option + ": '" + text + "'");
  return value;
}

Options parseArguments(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) usageError(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      std::exit(0);
    } else if (arg == "--ctn") {
      options.ctn = number(arg, value(), 0xFFFF);
    } else if (arg == "--pn") {
      options.pn = number(arg, value(), 0xFFFF);
    } else if (arg == "--lenr") {
      options.lenr = number(arg, value(), 0xFFFF);
    } else if (arg == "--prefix") {
      setenv("K52_PREFIX", value(), 1);
    } else if (arg == "--readers") {
      options.listReaders = true;
    } else if (arg == "-q" || arg == "--quiet") {
      options.quiet = true;
    } else if (arg.starts_with("-") && arg.size() > 1) {
      usageError("unknown option " + arg);
    } else if (options.library.empty()) {
      options.library = arg;
    } else {
      options.commands.push_back(arg);
    }
  }
  if (options.library.empty()) usageError("no library given");
  return options;
}

// The reader list comes through the context CT_init opens, configured
// terminal or not.
int listReaders(void* library, InitFn init, CloseFn close, std::uint16_t ctn) {
  auto getReaders = reinterpret_cast<GetReadersFn>(dlsym(library, "CT_getrd"));
  if (!getReaders) {
    std::cerr << "ctapi-shell: this library does not export CT_getrd\n";
    return 2;
  }
  init(ctn, 1);
  std::vector<char> names(64 * 1024);
  auto len = static_cast<std::uint32_t>(names.size());
  const std::int32_t status = getReaders(names.data(), &len);
  close(ctn);
  if (status != 0) {
    std::cerr << "ctapi-shell: CT_getrd failed with PC/SC status 0x" << std::hex
              << static_cast<std::uint32_t>(status) << "\n";
    return 1;
  }
  names.back() = '\0';
  for (const char* name = names.data(); *name; name += std::strlen(name) + 1) {
    std::cout << name << "\n";
  }
  return 0;
}

class Shell {
 public:
  Shell(const Options& options, DataFn data) : options_(options), data_(data) {}

  // Sends one command line; false when it did not return OK.
  bool run(const std::string& text) {
    auto parsed = k52::tools::parseShellCommand(text);
    if (auto* error = std::get_if<std::string>(&parsed)) {
      std::cerr << "ctapi-shell: " << *error << "\n";
      return false;
    }
    const auto& command = std::get<k52::tools::ShellCommand>(parsed);
    std::vector<std::uint8_t> response(options_.lenr);
    std::uint8_t dad = command.dad, sad = 2;
    auto lenr = static_cast<std::uint16_t>(options_.lenr);
    const int rc = data_(static_cast<std::uint16_t>(options_.ctn), &dad, &sad,
                         static_cast<std::uint16_t>(command.bytes.size()), command.bytes.data(),
                         &lenr, response.data());
    response.resize(std::min<std::size_t>(lenr, response.size()));
    if (options_.quiet) {
      std::cout << k52::text::formatHex(response) << "\n";
    } else {
      std::cout << "> " << k52::text::formatHex(command.bytes) << "  (dad " << int(command.dad)
                << ")\n";
      std::cout << "< " << k52::text::formatHex(response) << "\n";
      std::cout << "  ";
      if (response.size() >= 2) {
        std::cout << "SW1 SW2 = " << k52::text::formatHex(std::span(response).last(2)) << ", ";
      }
      std::cout << "rc = " << rc << " (" << resultName(rc) << "), sad = " << int(sad) << "\n";
    }
    std::cout.flush();
    return rc == 0;
  }

 private:
  const Options& options_;
  DataFn data_;
};

}  // namespace

int main(int argc, char** argv) {
  const Options options = parseArguments(argc, argv);
  void* library = dlopen(options.library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    std::cerr << "ctapi-shell: cannot load " << options.library << ": " << dlerror() << "\n";
    return 2;
  }
  auto init = reinterpret_cast<InitFn>(dlsym(library, "CT_init"));
  auto data = reinterpret_cast<DataFn>(dlsym(library, "CT_data"));
  auto close = reinterpret_cast<CloseFn>(dlsym(library, "CT_close"));
  if (!init || !data || !close) {
    std::cerr << "ctapi-shell: " << options.library
              << " does not export CT_init, CT_data and CT_close\n";
    return 2;
  }

  const auto ctn = static_cast<std::uint16_t>(options.ctn);
  if (options.listReaders) return listReaders(library, init, close, ctn);
  const int rcInit = init(ctn, static_cast<std::uint16_t>(options.pn));
  if (!options.quiet)
    std::cout << "CT_init(" << ctn << ", " << options.pn << ") = " << rcInit << " ("
              << resultName(rcInit) << ")\n";
  bool allOk = rcInit == 0;
  Shell shell(options, data);
  if (rcInit == 0) {
    if (!options.commands.empty()) {
      for (const auto& command : options.commands) allOk &= shell.run(command);
    } else {
      std::string line;
      while (std::getline(std::cin, line)) {
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        allOk &= shell.run(line.substr(first, line.find_last_not_of(" \t\r") - first + 1));
      }
    }
  } else {
    std::cerr << "ctapi-shell: CT_init failed with " << rcInit << " (" << resultName(rcInit)
              << "); is a reader configured for terminal " << ctn << "?\n";
  }
  const int rcClose = close(ctn);
  if (!options.quiet)
    std::cout << "CT_close(" << ctn << ") = " << rcClose << " (" << resultName(rcClose) << ")\n";
  return allOk ? 0 : 1;
}

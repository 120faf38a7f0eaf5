// k52-private-pcscd: a PrivatePcscd for shell scripts. Writes the daemon's
// coordinates as shell assignments, then keeps it until SIGTERM or SIGINT.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "testing/private_pcscd.h"

namespace {

constexpr const char* kUsage =
    "usage: k52-private-pcscd [--varnel PREFIX [--no-vpcd]] ENV-FILE\n"
    "Starts a private pcscd with two vpcd reader slots and writes to ENV-FILE:\n"
    "  PCSCLITE_CSOCK_NAME K52_PCSCD_PID K52_VPCD_PORT K52_VPCD_PORT1\n"
    "  K52_READER K52_READER1\n"
    "With --varnel it also serves the reader of libifd-varnel.so for the\n"
    "prefix PREFIX (its DEVICENAME) and writes K52_VARNEL_READER; --no-vpcd\n"
    "leaves the vpcd reader out (its variables are then empty).\n"
    "Stops the daemon and removes its files on SIGTERM or SIGINT, and exits\n"
    "non-zero if the daemon dies first.\n";

void writeEnv(const k52::testing::PrivatePcscd& daemon, bool vpcd, const std::string& path) {
  // Written aside and renamed, so a script never reads half of it.
  const std::string partial = path + ".partial";
  {
    std::ofstream out(partial);
    out << "PCSCLITE_CSOCK_NAME='" << daemon.socketPath() << "'\n"
        << "K52_PCSCD_PID=" << daemon.pid() << "\n";
    if (vpcd) {
      out << "K52_VPCD_PORT=" << daemon.vpcdPort(0) << "\n"
          << "K52_VPCD_PORT1=" << daemon.vpcdPort(1) << "\n"
          << "K52_READER='" << daemon.readerName(0) << "'\n"
          << "K52_READER1='" << daemon.readerName(1) << "'\n";
    } else {
      out << "K52_VPCD_PORT=\nK52_VPCD_PORT1=\nK52_READER=\nK52_READER1=\n";
    }
    out << "K52_VARNEL_READER='" << daemon.handlerReaderName() << "'\n";
  }
  std::filesystem::rename(partial, path);
}

// The options before ENV-FILE; false on a usage error.
bool parse(int argc, char** argv, k52::testing::PrivatePcscdOptions& options,
           std::string& envFile) {
  int i = 1;
  for (; i < argc - 1; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--varnel" && i + 1 < argc - 1) {
      options.handler =
          k52::testing::HandlerReader{.library = K52_IFD_VARNEL_PATH, .prefix = argv[++i]};
    } else if (arg == "--no-vpcd") {
      options.vpcd = false;
    } else {
      return false;
    }
  }
  if (i != argc - 1 || (!options.vpcd && !options.handler)) return false;
  envFile = argv[i];
  return !envFile.empty() && envFile[0] != '-';
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  k52::testing::PrivatePcscdOptions options;
  std::string envFile;
  if (!parse(argc, argv, options, envFile)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  try {
    const bool vpcd = options.vpcd;
    k52::testing::PrivatePcscd daemon(std::move(options));
    writeEnv(daemon, vpcd, envFile);
    const timespec tick{0, 100'000'000};
    while (sigtimedwait(&stopSignals, nullptr, &tick) < 0) {
      if (!daemon.running()) {
        std::fprintf(stderr, "k52-private-pcscd: pcscd died:\n%s", daemon.log().c_str());
        return 1;
      }
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "k52-private-pcscd: %s\n", e.what());
    return 1;
  }
}

// k52-private-pcscd: a PrivatePcscd for shell scripts. Writes the daemon's
// coordinates as shell assignments, then keeps it until SIGTERM or SIGINT.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "testing/private_pcscd.h"

namespace {

constexpr const char* kUsage =
    "usage: k52-private-pcscd ENV-FILE\n"
    "Starts a private pcscd with two vpcd reader slots and writes to ENV-FILE:\n"
    "  PCSCLITE_CSOCK_NAME K52_PCSCD_PID K52_VPCD_PORT K52_VPCD_PORT1\n"
    "  K52_READER K52_READER1\n"
    "Stops the daemon and removes its files on SIGTERM or SIGINT, and exits\n"
    "non-zero if the daemon dies first.\n";

void writeEnv(const k52::testing::PrivatePcscd& daemon, const std::string& path) {
  // Written aside and renamed, so a script never reads half of it.
  const std::string partial = path + ".partial";
  {
    std::ofstream out(partial);
    out << "PCSCLITE_CSOCK_NAME='" << daemon.socketPath() << "'\n"
        << "K52_PCSCD_PID=" << daemon.pid() << "\n"
        << "K52_VPCD_PORT=" << daemon.vpcdPort(0) << "\n"
        << "K52_VPCD_PORT1=" << daemon.vpcdPort(1) << "\n"
        << "K52_READER='" << daemon.readerName(0) << "'\n"
        << "K52_READER1='" << daemon.readerName(1) << "'\n";
  }
  std::filesystem::rename(partial, path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, argc == 2 ? stdout : stderr);
    return argc == 2 ? 0 : 2;
  }
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  try {
    k52::testing::PrivatePcscd daemon;
    writeEnv(daemon, argv[1]);
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

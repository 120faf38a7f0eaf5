// k52serial: the K52 card terminal behind a pseudo terminal, for the
// reader driver's serial transport and for demos.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

#include "sim/k52fw/card_description.h"
#include "sim/k52fw/k52_firmware.h"
#include "sim/k52fw/serial_options.h"
#include "sim/k52fw/serial_terminal.h"
#include "sim/k52fw/typist.h"
#include "sim/kbd8042/queue_timeline.h"

namespace {

using namespace std::chrono_literals;

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) {
  stopRequested = 1;
}

int run(const k52::sim::SerialOptions& options) {
  k52::sim::QueueTimeline timeline;
  k52::sim::K52Firmware firmware(timeline, k52::sim::serialTerminalIdentity());
  if (options.purse || !options.pin.empty()) {
    firmware.insertCard(k52::sim::makeCard({.balance = options.purse.value_or(0),
                                            .protocols = options.protocols,
                                            .pin = options.pin}));
  }
  if (!options.keypad.empty()) {
    firmware.onPinEntry([&] {
      k52::sim::typeKeys(timeline, options.keypad,
                         [&](k52::sim::KeypadKey key) { firmware.pressKey(key); });
    });
  }
  k52::sim::SerialTerminal terminal(firmware, timeline);
  if (!options.link.empty()) {
    unlink(options.link.c_str());
    if (symlink(terminal.slavePath().c_str(), options.link.c_str()) != 0) {
      std::perror("k52serial: symlink");
      return 1;
    }
  }
  std::printf("%s\n", terminal.slavePath().c_str());
  std::fflush(stdout);
  while (!stopRequested) terminal.serveOnce(20ms);
  if (!options.link.empty()) unlink(options.link.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  auto parsed = k52::sim::parseSerialOptions(args);
  if (auto* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "k52serial: %s\n%s", error->c_str(), k52::sim::kSerialUsage.data());
    return 2;
  }
  const auto& options = std::get<k52::sim::SerialOptions>(parsed);
  if (options.help) {
    std::fputs(k52::sim::kSerialUsage.data(), stdout);
    return 0;
  }
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  try {
    return run(options);
  } catch (const std::system_error& e) {
    std::fprintf(stderr, "k52serial: %s\n", e.what());
    return 1;
  }
}

// k52sim: the K52 keyboard with its card terminal as a process of its own,
// and the commands that act on a running one.
#include <signal.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string_view>
#include <vector>

#include "platform/nt/port_link/port_link.h"
#include "platform/win32/prefix.h"
#include "sim/k52sim/control_client.h"
#include "sim/k52sim/keyboard_server.h"
#include "sim/k52sim/keyboard_unit.h"
#include "sim/k52sim/options.h"

namespace {

using namespace std::chrono_literals;

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) {
  stopRequested = 1;
}

int serve(const k52::sim::K52simOptions& options, const std::filesystem::path& socketPath) {
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  k52::sim::KeyboardUnit unit;
  if (options.card) unit.insertCard(*options.card);
  unit.typeAtEveryPinEntry(options.keypad);
  k52::sim::KeyboardServer server(unit, socketPath);
  std::printf("%s\n", socketPath.c_str());
  std::fflush(stdout);
  while (!stopRequested) server.serveOnce(100ms);
  return 0;
}

int control(const k52::sim::K52simOptions& options, const std::filesystem::path& socketPath) {
  const auto reply = k52::sim::sendControl(socketPath, options.command);
  if (reply.ok) {
    std::fputs(reply.text.c_str(), stdout);
  } else {
    std::fprintf(stderr, "k52sim: %s", reply.text.c_str());
  }
  return reply.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  auto parsed = k52::sim::parseK52simOptions(args);
  if (auto* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "k52sim: %s\n%s", error->c_str(), k52::sim::kK52simUsage.data());
    return 2;
  }
  const auto& options = std::get<k52::sim::K52simOptions>(parsed);
  if (options.help) {
    std::fputs(k52::sim::kK52simUsage.data(), stdout);
    return 0;
  }
  const std::filesystem::path socketPath =
      options.socket ? std::filesystem::path(*options.socket)
                     : k52::nt::keyboardSocketPath(k52::win32::Prefix::resolve(options.prefix));
  try {
    return options.command.empty() ? serve(options, socketPath) : control(options, socketPath);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "k52sim: %s\n", e.what());
    return 1;
  }
}

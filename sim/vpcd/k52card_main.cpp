// k52card: a simulated purse card in a vpcd reader, for scripts and demos.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/card/purse.h"
#include "sim/vpcd/card_options.h"
#include "sim/vpcd/vpcd_card.h"

namespace {

using namespace std::chrono_literals;
using k52::sim::CardOptions;

// Waits up to `timeout` for SIGTERM or SIGINT (blocked in every thread).
bool stopRequested(const sigset_t& stopSignals, std::chrono::milliseconds timeout) {
  const timespec ts{0, static_cast<long>(std::chrono::nanoseconds(timeout).count())};
  return sigtimedwait(&stopSignals, nullptr, &ts) > 0;
}

int run(const CardOptions& options, const sigset_t& stopSignals) {
  k52::sim::Card card(options.atr);
  card.install(std::make_unique<k52::sim::PurseApplication>(
      k52::sim::PurseConfig{.balance = options.balance}));
  k52::sim::VpcdCard vpcd(std::move(card), options.port);

  bool announced = options.readyFile.empty();
  for (;;) {
    if (!vpcd.inserted()) {
      // Short attempts, so a stop request is seen while the reader is away.
      const auto deadline = std::chrono::steady_clock::now() + options.wait;
      while (!vpcd.insert(100ms)) {
        if (stopRequested(stopSignals, 0ms)) return 0;
        if (std::chrono::steady_clock::now() >= deadline) {
          std::fprintf(stderr, "k52card: no vpcd reader on 127.0.0.1:%u\n", options.port);
          return 1;
        }
      }
    }
    if (!announced && vpcd.waitUntilPowered(0ms)) {
      std::ofstream(options.readyFile) << "powered\n";
      announced = true;
    }
    if (stopRequested(stopSignals, 50ms)) return 0;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  auto parsed = k52::sim::parseCardOptions(args);
  if (auto* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "k52card: %s\n%s", error->c_str(), k52::sim::kCardUsage.data());
    return 2;
  }
  const auto& options = std::get<CardOptions>(parsed);
  if (options.help) {
    std::fputs(k52::sim::kCardUsage.data(), stdout);
    return 0;
  }
  // Blocked before any thread starts, so only sigtimedwait() receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  return run(options, stopSignals);
}

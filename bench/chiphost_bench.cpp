// Requests per second and latency of `System,Info` through the card server,
// over each transport (WM_COPYDATA, and mailslot plus shared memory), with
// one client and with 8 concurrent clients (threads, each with its own
// window and session). The server is the real program, started by the first
// client in a prefix of its own.
//
// Counters: items_per_second is the total request rate of all clients;
// mean_us, p50_us and p99_us are the latency per request, measured in each
// client and averaged over the clients.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <numeric>
#include <vector>

#include "chiphost/client/client.h"
#include "chiphost/testing/child_program.h"
#include "platform/win32/messaging/user.h"

namespace {

using namespace k52;
using namespace k52::chiphost;

// The prefix of this run, attached before the first benchmark.
class Prefix {
 public:
  Prefix() {
    std::string pattern = (std::filesystem::temp_directory_path() / "k52-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    ::setenv("K52_PROGRAM_PATH", K52_CHIPHOST_BIN_DIR, 1);
    win32::attach(win32::Prefix(path_));
  }
  ~Prefix() {
    killServer();
    win32::detach();
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

 private:
  std::filesystem::path path_;
};

void systemInfo(benchmark::State& state) {
  static Prefix prefix;
  ClientOptions options;
  options.transport = state.range(0) == 0 ? Transport::CopyData : Transport::SharedMemory;
  Client client(options);
  if (const auto first = client.request("System,Info"); first.result != 0) {
    state.SkipWithError(("no server: " + std::to_string(first.result)).c_str());
    return;
  }
  std::vector<double> micros;
  micros.reserve(100000);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const ClientReply reply = client.request("System,Info");
    micros.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
    if (reply.result != 0) {
      state.SkipWithError("request failed");
      break;
    }
    benchmark::DoNotOptimize(reply.data.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(micros.size()));
  if (micros.empty()) return;
  const double mean = std::accumulate(micros.begin(), micros.end(), 0.0) / micros.size();
  std::sort(micros.begin(), micros.end());
  auto percentile = [&](double p) {
    return micros[std::min(micros.size() - 1, static_cast<std::size_t>(p * micros.size()))];
  };
  state.counters["mean_us"] = benchmark::Counter(mean, benchmark::Counter::kAvgThreads);
  state.counters["p50_us"] = benchmark::Counter(percentile(0.50), benchmark::Counter::kAvgThreads);
  state.counters["p99_us"] = benchmark::Counter(percentile(0.99), benchmark::Counter::kAvgThreads);
}

BENCHMARK(systemInfo)
    ->ArgName("shm")
    ->Arg(0)
    ->Arg(1)
    ->Threads(1)
    ->Threads(8)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

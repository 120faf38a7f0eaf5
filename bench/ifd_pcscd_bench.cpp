// APDU round trips through pcscd: the K52 keyboard terminal behind
// libifd-varnel.so (k52sim, real clock) against pcscd's virtual reader with
// the same simulated purse card. Both readers are served by one private
// pcscd; each run reports the mean and the latency percentiles of READ
// RECORD, so the difference is what the driver stack and the keyboard's
// wire cost beyond the daemon itself. The keyboard runs over T=0 and T=1, at
// the machine's 1 ms clock tick and at NT's default 15.625 ms, with the CPU
// time pcscd and k52sim spend per APDU: compare with varnel_bench, the same
// exchange on virtual time.
#include <PCSC/winscard.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/nt/kernel.h"
#include "platform/win32/registry.h"
#include "platform/win32/test_temp_dir.h"
#include "sim/card/purse.h"
#include "sim/k52sim/test_k52sim.h"
#include "sim/vpcd/vpcd_card.h"
#include "testing/private_pcscd.h"

namespace {

using namespace std::chrono_literals;

const std::vector<std::uint8_t> kSelectPurse{0x00, 0xA4, 0x04, 0x0C, 0x09, 0xD2, 0x76,
                                             0x00, 0x00, 0x25, 0x45, 0x50, 0x01, 0x00};
// The purse's balance record, 9 bytes: over T=0 the card wants its length.
const std::vector<std::uint8_t> kReadRecord{0x00, 0xB2, 0x01, 0xC4, 0x09};

// CPU time (user and system) a process has used so far.
std::chrono::milliseconds cpuTime(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The fields after the command's name, which ends with the last ')'.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoll(field);
    if (i == 15) stime = std::stoll(field);
  }
  return std::chrono::milliseconds((utime + stime) * 1000 / ::sysconf(_SC_CLK_TCK));
}

// k52sim and a pcscd serving it beside vpcd, for one clock tick.
class Readers {
 public:
  explicit Readers(std::uint32_t timeIncrement) : timeIncrement_(timeIncrement) {
    k52::win32::Registry(k52::win32::Prefix(prefix_.path()))
        .set(k52::win32::RootKey::LocalMachine, k52::nt::kMachineSettingsKey,
             k52::nt::kTimeIncrementValue, timeIncrement);
    if (!keyboard_.readLine()) throw std::runtime_error("k52sim did not start");
    daemon_.emplace(k52::testing::PrivatePcscdOptions{
        .vpcd = true,
        .handler =
            k52::testing::HandlerReader{.library = K52_IFD_VARNEL_PATH, .prefix = prefix_.path()}});
    card_.emplace(k52::sim::makePurseCard({.balance = 1234}), daemon_->vpcdPort());
    if (!card_->insert(5s) || !card_->waitUntilPowered(5s)) {
      throw std::runtime_error("the virtual reader's card did not come up");
    }
  }
  std::uint32_t timeIncrement() const { return timeIncrement_; }
  k52::testing::PrivatePcscd& daemon() { return *daemon_; }
  pid_t keyboardPid() const { return keyboard_.pid(); }

 private:
  std::uint32_t timeIncrement_;
  k52::win32::TempDir prefix_;
  k52::sim::test::K52simProcess keyboard_{prefix_.path(), {"--card", "purse:1234"}};
  std::optional<k52::testing::PrivatePcscd> daemon_;
  std::optional<k52::sim::VpcdCard> card_;
};

std::unique_ptr<Readers> readers;

Readers& readersFor(std::uint32_t timeIncrement) {
  if (!readers || readers->timeIncrement() != timeIncrement) {
    readers.reset();  // one pcscd at a time
    readers = std::make_unique<Readers>(timeIncrement);
  }
  return *readers;
}

bool transmit(SCARDHANDLE card, DWORD protocol, const std::vector<std::uint8_t>& apdu) {
  const SCARD_IO_REQUEST pci{protocol, sizeof(SCARD_IO_REQUEST)};
  std::uint8_t response[258];
  DWORD length = sizeof response;
  return SCardTransmit(card, &pci, apdu.data(), static_cast<DWORD>(apdu.size()), nullptr, response,
                       &length) == SCARD_S_SUCCESS &&
         length >= 2 && response[length - 2] == 0x90;
}

double percentile(std::vector<double> sorted, double p) {
  return sorted[static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1))];
}

// state.range(0): 0 the virtual reader, 1 the K52 keyboard reader;
// state.range(1): 0 for T=0, 1 for T=1; state.range(2): the clock tick.
void BM_ReadRecord(benchmark::State& state) {
  Readers& r = readersFor(static_cast<std::uint32_t>(state.range(2)));
  const bool keyboard = state.range(0) != 0;
  const std::string reader = keyboard ? r.daemon().handlerReaderName() : r.daemon().readerName();
  const DWORD wanted = state.range(1) ? SCARD_PROTOCOL_T1 : SCARD_PROTOCOL_T0;
  SCARDCONTEXT context = 0;
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS ||
      SCardConnect(context, reader.c_str(), SCARD_SHARE_SHARED, wanted, &card, &protocol) !=
          SCARD_S_SUCCESS ||
      !transmit(card, protocol, kSelectPurse)) {
    state.SkipWithError("no purse in the reader");
    SCardReleaseContext(context);
    return;
  }
  const auto pcscdBefore = cpuTime(r.daemon().pid());
  const auto keyboardBefore = cpuTime(r.keyboardPid());
  std::vector<double> latencies;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (!transmit(card, protocol, kReadRecord)) {
      state.SkipWithError("transmit failed");
      break;
    }
    latencies.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  if (!latencies.empty()) {
    const double n = static_cast<double>(latencies.size());
    std::sort(latencies.begin(), latencies.end());
    state.counters["p50_ms"] = percentile(latencies, 0.50);
    state.counters["p90_ms"] = percentile(latencies, 0.90);
    state.counters["p99_ms"] = percentile(latencies, 0.99);
    state.counters["apdus_per_s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
    state.counters["pcscd_cpu_ms"] =
        static_cast<double>((cpuTime(r.daemon().pid()) - pcscdBefore).count()) / n;
    if (keyboard) {
      state.counters["k52sim_cpu_ms"] =
          static_cast<double>((cpuTime(r.keyboardPid()) - keyboardBefore).count()) / n;
    }
  }
  // Reset, so that the next run negotiates its own protocol.
  SCardDisconnect(card, SCARD_RESET_CARD);
  SCardReleaseContext(context);
}
BENCHMARK(BM_ReadRecord)
    ->ArgNames({"k52", "t1", "tick"})
    ->Args({0, 0, 10'000})
    ->Iterations(400)
    ->UseRealTime();
BENCHMARK(BM_ReadRecord)
    ->ArgNames({"k52", "t1", "tick"})
    ->ArgsProduct({{1}, {0, 1}, {10'000, 156'250}})
    ->Iterations(40)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  try {
    benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& e) {
    std::cerr << "ifd_pcscd_bench: " << e.what() << "\n";
    return 1;
  }
  readers.reset();
  benchmark::Shutdown();
  return 0;
}

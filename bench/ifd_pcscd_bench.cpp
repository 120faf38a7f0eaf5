// APDU round trips through pcscd: the K52 keyboard terminal behind
// libifd-varnel.so (k52sim, real clock) against pcscd's virtual reader with
// the same simulated purse card. Both readers are served by one private
// pcscd; each run reports the mean and the latency percentiles of READ
// RECORD, so the difference is what the driver stack and the keyboard's
// wire cost beyond the daemon itself.
#include <PCSC/winscard.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/test_temp_dir.h"
#include "sim/card/purse.h"
#include "sim/k52sim/test_k52sim.h"
#include "sim/vpcd/vpcd_card.h"
#include "testing/private_pcscd.h"

namespace {

using namespace std::chrono_literals;

const std::vector<std::uint8_t> kSelectPurse{0x00, 0xA4, 0x04, 0x0C, 0x09, 0xD2, 0x76,
                                             0x00, 0x00, 0x25, 0x45, 0x50, 0x01, 0x00};
const std::vector<std::uint8_t> kReadRecord{0x00, 0xB2, 0x01, 0xC4, 0x00};

k52::testing::PrivatePcscd* pcscd = nullptr;

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

// state.range(0): 0 the virtual reader, 1 the K52 keyboard reader.
void BM_ReadRecord(benchmark::State& state) {
  const std::string reader = state.range(0) ? pcscd->handlerReaderName() : pcscd->readerName();
  SCARDCONTEXT context = 0;
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS ||
      SCardConnect(context, reader.c_str(), SCARD_SHARE_SHARED,
                   SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol) != SCARD_S_SUCCESS ||
      !transmit(card, protocol, kSelectPurse)) {
    state.SkipWithError("no purse in the reader");
    SCardReleaseContext(context);
    return;
  }
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
    std::sort(latencies.begin(), latencies.end());
    state.counters["p50_ms"] = percentile(latencies, 0.50);
    state.counters["p90_ms"] = percentile(latencies, 0.90);
    state.counters["p99_ms"] = percentile(latencies, 0.99);
    state.counters["apdus_per_s"] =
        benchmark::Counter(static_cast<double>(latencies.size()), benchmark::Counter::kIsRate);
  }
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  SCardReleaseContext(context);
}
BENCHMARK(BM_ReadRecord)->ArgName("k52")->Arg(0)->Iterations(400)->UseRealTime();
BENCHMARK(BM_ReadRecord)->ArgName("k52")->Arg(1)->Iterations(40)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  k52::win32::TempDir prefix;
  k52::sim::test::K52simProcess keyboard(prefix.path(), {"--card", "purse:1234"});
  if (!keyboard.readLine()) {
    std::cerr << "ifd_pcscd_bench: k52sim did not start\n";
    return 1;
  }
  k52::testing::PrivatePcscd daemon(k52::testing::PrivatePcscdOptions{
      .vpcd = true,
      .handler =
          k52::testing::HandlerReader{.library = K52_IFD_VARNEL_PATH, .prefix = prefix.path()}});
  pcscd = &daemon;
  k52::sim::VpcdCard card(k52::sim::makePurseCard({.balance = 1234}), daemon.vpcdPort());
  if (!card.insert(5s) || !card.waitUntilPowered(5s)) {
    std::cerr << "ifd_pcscd_bench: the virtual reader's card did not come up\n";
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// How much a CT_data card command costs over the PC/SC transmit beneath it.
//
// Both paths talk to the same simulated purse card in a private pcscd's
// virtual reader. CT_data connects, reads the card state, transmits and
// releases for every command, so it pays three extra daemon round trips; the
// ratio printed at the end is the library's whole overhead.
#include <PCSC/winscard.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <vector>

#include "ctapi/pcsc/ctbridge.h"
#include "platform/win32/registry.h"
#include "sim/card/purse.h"
#include "sim/vpcd/vpcd_card.h"
#include "testing/private_pcscd.h"

namespace {

using namespace std::chrono_literals;

const std::vector<std::uint8_t> kReadRecord{0x00, 0xB2, 0x01, 0xC4, 0x00};

k52::testing::PrivatePcscd* pcscd = nullptr;

void BM_RawTransmit(benchmark::State& state) {
  SCARDCONTEXT context = 0;
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS ||
      SCardConnect(context, pcscd->readerName().c_str(), SCARD_SHARE_SHARED,
                   SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol) != SCARD_S_SUCCESS) {
    state.SkipWithError("no connection to the reader");
    return;
  }
  const SCARD_IO_REQUEST pci{protocol, sizeof(SCARD_IO_REQUEST)};
  std::uint8_t response[258];
  for (auto _ : state) {
    DWORD len = sizeof response;
    if (SCardTransmit(card, &pci, kReadRecord.data(), kReadRecord.size(), nullptr, response,
                      &len) != SCARD_S_SUCCESS) {
      state.SkipWithError("transmit failed");
      break;
    }
    benchmark::DoNotOptimize(response);
  }
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  SCardReleaseContext(context);
}
BENCHMARK(BM_RawTransmit)->UseRealTime();

void BM_CtDataCardCommand(benchmark::State& state) {
  if (CT_init(1, 1) != OK) {
    state.SkipWithError("CT_init failed");
    return;
  }
  std::uint8_t response[258];
  for (auto _ : state) {
    std::uint8_t dad = CTAPI_ADDR_ICC1, sad = CTAPI_ADDR_HOST;
    std::uint16_t lenr = sizeof response;
    if (CT_data(1, &dad, &sad, static_cast<std::uint16_t>(kReadRecord.size()), kReadRecord.data(),
                &lenr, response) != OK) {
      state.SkipWithError("CT_data failed");
      break;
    }
    benchmark::DoNotOptimize(response);
  }
  CT_close(1);
}
BENCHMARK(BM_CtDataCardCommand)->UseRealTime();

// Remembers each benchmark's time per iteration for the closing ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double raw = times_["BM_RawTransmit/real_time"];
    const double bridged = times_["BM_CtDataCardCommand/real_time"];
    if (raw > 0 && bridged > 0) {
      std::cout << "CT_data / SCardTransmit = " << bridged / raw << "\n";
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::string prefix = (std::filesystem::temp_directory_path() / "k52-bench-XXXXXX").string();
  if (!mkdtemp(prefix.data())) return 1;
  setenv("K52_PREFIX", prefix.c_str(), 1);
  int status = 0;
  {
    k52::testing::PrivatePcscd daemon;
    pcscd = &daemon;
    k52::win32::Registry(k52::win32::Prefix(prefix))
        .set(k52::win32::RootKey::CurrentUser, "CTAPIDLL.INI\\OPT", "ReaderName1",
             daemon.readerName());
    k52::sim::VpcdCard card(k52::sim::makePurseCard({.balance = 1234}), daemon.vpcdPort());
    if (!card.insert(5s) || !card.waitUntilPowered(5s)) {
      std::cerr << "ctdata_bench: the card did not come up\n";
      status = 1;
    } else {
      RatioReporter reporter;
      benchmark::RunSpecifiedBenchmarks(&reporter);
    }
  }
  std::filesystem::remove_all(prefix);
  benchmark::Shutdown();
  return status;
}

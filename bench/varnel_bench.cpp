// The reader driver's card exchanges: APDUs per second of simulated wire
// time for an 11-byte answer (the purse's balance record) and a 255-byte one,
// over T=0 and T=1, over the keyboard line and over the serial line, against
// each line's physical limit, and the host's CPU time per APDU (the
// simulation's own cost included).
//
// Limits. Keyboard line: the command frame goes out as 4 + 2(1 + C) nibble
// codes, each 11 bits and acknowledged by an 11-bit 0xFE; the answer comes
// back as 2 + 2(2 + 1 + A) codes; the clock runs at up to 16.7 kHz. Serial
// line: 3 + C bytes out and 3 + A bytes back, 12 bits each (8E2) at 9600
// baud. C is the APDU's length, A the answer's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "drivers/reader/test_reader_rig.h"

namespace {

using namespace k52;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kAid[] = {0xF0, 0x6B, 0x35, 0x32, 0x42, 0x45, 0x4E, 0x43, 0x48};

// Record n of file 1 holds n bytes: READ RECORD answers n + 2 bytes.
class SizedRecords final : public sim::Application {
 public:
  std::span<const std::uint8_t> name() const override { return kAid; }
  bool hasRecordFile(std::uint8_t sfi) const override { return sfi == 1; }
  std::optional<Bytes> record(std::uint8_t, std::uint8_t number) const override {
    return Bytes(number, 0xA5);
  }
};

std::shared_ptr<sim::Card> benchCard() {
  auto card = std::make_shared<sim::Card>(sim::makePurseCard(sim::PurseConfig{}));
  card->install(std::make_unique<SizedRecords>());
  return card;
}

enum class Line { kKeyboard, kSerial };

// state.range(0): the answer's length; state.range(1): 0 for T=0, 1 for T=1;
// state.range(2): the machine's clock tick in 100 ns units.
void exchange(benchmark::State& state, Line line, nt::Clocking clocking) {
  const bool serial = line == Line::kSerial;
  const auto data = static_cast<std::uint8_t>(state.range(0) - 2);
  const nt::ULONG protocol = state.range(1) ? nt::SCARD_PROTOCOL_T1 : nt::SCARD_PROTOCOL_T0;
  const auto tick = static_cast<std::uint32_t>(state.range(2));
  varnel::ReaderRig rig(
      serial ? varnel::ReaderRigOptions{.port = "COM1",
                                        .serial = varnel::SerialEnd::kTerminal,
                                        .clocking = clocking,
                                        .timeIncrement = tick}
             : varnel::ReaderRigOptions{.clocking = clocking, .timeIncrement = tick});
  (serial ? rig.serialTerminal() : rig.terminal()).insertCard(benchCard());
  Bytes select = {0x00, 0xA4, 0x04, 0x0C, sizeof kAid};
  select.insert(select.end(), std::begin(kAid), std::end(kAid));
  if (rig.start() != nt::STATUS_SUCCESS || rig.setProtocol(protocol).status != nt::STATUS_SUCCESS ||
      rig.transmit(protocol, select).out != Bytes{0x90, 0x00}) {
    state.SkipWithError("the reader did not come up");
    return;
  }
  const Bytes read = {0x00, 0xB2, data, 0x0C, data};
  Duration wire{0};
  for (auto _ : state) {
    const Duration start = rig.scheduler().now();
    const auto answer = rig.transmit(protocol, read);
    if (answer.out.size() != data + 2u) {
      state.SkipWithError("wrong answer");
      return;
    }
    wire += rig.scheduler().now() - start;
  }
  // A T=1 block adds its prologue (NAD, PCB, LEN) and its LRC both ways.
  const double blockBytes = protocol == nt::SCARD_PROTOCOL_T1 ? 4 : 0;
  const double c = read.size() + blockBytes;
  const double a = data + 2.0 + blockBytes;
  const double bits =
      serial ? ((3 + c) + (3 + a)) * 12 : ((4 + 2 * (1 + c)) * 2 + 2 + 2 * (3 + a)) * 11;
  const double lineRate = serial ? 9600.0 : 16700.0;
  const double seconds = std::chrono::duration<double>(wire).count() / state.iterations();
  state.counters["ms_per_apdu"] = seconds * 1000;
  state.counters["apdu_per_s"] = 1.0 / seconds;
  state.counters["line_limit_apdu_per_s"] = lineRate / bits;
}

void BM_KeyboardLine(benchmark::State& state) {
  exchange(state, Line::kKeyboard, nt::Clocking::Virtual);
}
void BM_SerialLine(benchmark::State& state) {
  exchange(state, Line::kSerial, nt::Clocking::Virtual);
}
// The same exchange on the real clock with the keyboard in-process: what the
// real-time machinery costs without the port link of a keyboard process.
void BM_KeyboardLineRealClock(benchmark::State& state) {
  exchange(state, Line::kKeyboard, nt::Clocking::Real);
}

void sizesAndProtocols(benchmark::internal::Benchmark* b) {
  b->ArgNames({"answer", "t1", "tick"})->ArgsProduct({{11, 255}, {0, 1}, {10'000, 156'250}});
}
BENCHMARK(BM_KeyboardLine)
    ->Apply(sizesAndProtocols)
    ->Iterations(5)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SerialLine)
    ->Apply(sizesAndProtocols)
    ->Iterations(5)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeyboardLineRealClock)
    ->ArgNames({"answer", "t1", "tick"})
    ->ArgsProduct({{11}, {0, 1}, {10'000, 156'250}})
    ->Iterations(10)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

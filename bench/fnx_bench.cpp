// The FNX reader family against the firmware simulator: plain frames and
// sequenced commands per second of simulated wire time at 9600, 57600 and
// 115200, a 255-byte card transfer against its wire time, the host's CPU
// per frame (the simulation's own cost included), and the CPU a 1 s read
// wait on a pty costs (each turn a message pump and a wait of at most 1 ms).
//
// Wire time: 8E2 is 12 bits a character, 1.25 ms at 9600 and 104 us at
// 115200. A frame is its bytes and the checksum (plus the length byte from
// 115200 on), its answer the answer bytes and their checksum.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>

#include "chiphost/readers/reader_attachment.h"
#include "chiphost/readers/test_rig.h"
#include "platform/win32/comm/tty_comm_line.h"

namespace {

using namespace k52;
using namespace std::chrono_literals;

double characterMs(std::int32_t baud) {
  return 12.0 * 1000.0 / baud;
}

// A reader attached and brought to `speed`.
struct Bench {
  chiphost::ReaderRig rig;
  chiphost::ReaderAttachment card{rig.host, chiphost::kRigPort, 0};
  explicit Bench(std::int32_t speed) {
    rig.plugReader({.lot = 1, .serial = 2});
    card.Attach(0);
    card.SetSpeed(9600);
    if (speed != 9600) card.SetSpeed(speed);
    // The card's speed, which every transfer applies again.
    card.setCardSpeed(speed);
  }
  double virtualMs() const {
    return std::chrono::duration<double, std::milli>(rig.clock.now()).count();
  }
};

void report(benchmark::State& state, double virtualMs, double wireMsPerOp, std::int32_t speed) {
  const double ops = static_cast<double>(state.iterations());
  state.counters["virtual_ms_per_op"] = virtualMs / ops;
  state.counters["wire_ms_per_op"] = wireMsPerOp;
  state.counters["ops_per_virtual_s"] = 1000.0 * ops / virtualMs;
  state.counters["baud"] = speed;
}

// A plain frame: the identity check of a re-check (0x0C, 4 answer bytes).
void BM_PlainFrame(benchmark::State& state) {
  const auto speed = static_cast<std::int32_t>(state.range(0));
  Bench bench(speed);
  const double start = bench.virtualMs();
  for (auto _ : state) bench.card.Attach(3);
  const double length = speed >= 115200 ? 1 : 0;
  report(state, bench.virtualMs() - start, (length + 2 + 5) * characterMs(speed), speed);
}
BENCHMARK(BM_PlainFrame)->Arg(9600)->Arg(57600)->Arg(115200);

// A sequenced command with the counter known: one LED/mode frame, its
// checksum answer.
void BM_SequencedCommand(benchmark::State& state) {
  const auto speed = static_cast<std::int32_t>(state.range(0));
  Bench bench(speed);
  const double start = bench.virtualMs();
  int led = 0;
  for (auto _ : state) bench.card.SetLed(led++ & 3);
  const double length = speed >= 115200 ? 1 : 0;
  report(state, bench.virtualMs() - start, (length + 5 + 1) * characterMs(speed), speed);
}
BENCHMARK(BM_SequencedCommand)->Arg(9600)->Arg(57600)->Arg(115200);

// 255 card bytes through the transparent mode (the header, the lead above
// 9600, the bytes) until the last one has reached the reader.
void BM_Transfer255(benchmark::State& state) {
  const auto speed = static_cast<std::int32_t>(state.range(0));
  Bench bench(speed);
  const std::vector<std::uint8_t> bytes(255, 0x5A);
  std::vector<std::uint8_t> answer;
  const double start = bench.virtualMs();
  for (auto _ : state) {
    bench.card.Transmit(0, false, 100, 1000, answer, bytes);
    auto& line = *bench.rig.line;
    while (line.outputCount() > 0) bench.rig.clock.advance(*line.nextDue() - bench.rig.clock.now());
  }
  const double length = speed >= 115200 ? 1 : 0;
  const double lead = speed != 9600 ? 2 : 0;
  const double chars = length + 3 + 1 + lead + 255;
  report(state, bench.virtualMs() - start, chars * characterMs(speed), speed);
}
BENCHMARK(BM_Transfer255)->Arg(9600)->Arg(57600)->Arg(115200);

// A 1 s read wait on a pty nobody writes to: CPU time against 1 s of real
// time.
void BM_PtyWait1s(benchmark::State& state) {
  win32::TempDir dir;
  win32::attach(win32::Prefix(dir.path()));
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  grantpt(master);
  unlockpt(master);
  std::shared_ptr<win32::CommLine> line = win32::TtyCommLine::open(ptsname(master));
  win32::attachPort(5, line);
  {
    chiphost::BasicReaderHost host;
    chiphost::TComPort port;
    port.setIdleEvent([&host](bool portWait) { host.idle(portWait); });
    port.SetPortNumber(5);
    std::uint8_t b;
    for (auto _ : state) benchmark::DoNotOptimize(port.ReadByte(b, 1000));
    state.counters["turns_per_s"] =
        static_cast<double>(host.portWaits()) / static_cast<double>(state.iterations());
  }
  win32::attachPort(5, nullptr);
  line.reset();
  close(master);
  win32::detach();
}
BENCHMARK(BM_PtyWait1s)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

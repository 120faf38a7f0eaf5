// The keyboard channel: what the read filter costs per keyboard record, and
// how long a command and its answer take on the simulated wire against the
// physical limit of the PS/2 line.
//
// Wire time: a command of L bytes goes out as 4 + 2L nibble codes, each
// acknowledged by the keyboard; the answer comes back as a frame of
// 2 + 2(2 + L) codes. On the line a byte is 11 bits (start, 8 data, parity,
// stop) at a clock of 10 to 16.7 kHz, so the line alone needs
// ((4 + 2L) x 2 + 6 + 2L) x 11 bits. The simulated time also holds the
// driver's polling, which measures its waits in clock ticks.
#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "drivers/kbdchannel/channel.h"
#include "drivers/kbdchannel/test_channel_rig.h"

namespace {

using namespace k52;
using namespace k52::nt;
using namespace std::chrono_literals;

KEYBOARD_INPUT_DATA record(std::uint8_t code) {
  KEYBOARD_INPUT_DATA r{};
  r.MakeCode = code & 0x7F;
  r.Flags = (code & 0x80) ? KEY_BREAK : KEY_MAKE;
  return r;
}

void filterBatches(benchmark::State& state, const std::vector<std::uint8_t>& codes) {
  sim::ScriptedFirmware silent;
  kbdchannel::ChannelRig rig(silent);
  if (rig.attach() != STATUS_SUCCESS) {
    state.SkipWithError("attach failed");
    return;
  }
  kbdchannel::ChannelExtension* ext = kbdchannel::channel();
  std::vector<KEYBOARD_INPUT_DATA> records(codes.size());
  for (auto _ : state) {
    for (std::size_t i = 0; i < codes.size(); ++i) records[i] = record(codes[i]);
    IRP irp{};
    irp.AssociatedIrp.SystemBuffer = records.data();
    irp.IoStatus.Status = STATUS_SUCCESS;
    irp.IoStatus.Information = codes.size() * sizeof(KEYBOARD_INPUT_DATA);
    kbdchannel::vrlPCSCReadComplete(kbdchannel::hookDeviceObj, &irp, nullptr);
    benchmark::DoNotOptimize(irp.IoStatus.Information);
    if (kbdchannel::GetFifoCount(ext) > 1000) kbdchannel::ClearFifo(ext);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(codes.size()));
}

// Sixteen key strokes (make and break of eight letters): the common case.
void BM_FilterKeystrokes(benchmark::State& state) {
  filterBatches(state, {0x1E, 0x9E, 0x30, 0xB0, 0x2E, 0xAE, 0x20, 0xA0, 0x12, 0x92, 0x21, 0xA1,
                        0x22, 0xA2, 0x23, 0xA3});
}
BENCHMARK(BM_FilterKeystrokes);

// A three-byte terminal frame with four key strokes mixed in.
void BM_FilterFrameAndKeystrokes(benchmark::State& state) {
  filterBatches(state, {0x1E, 0x64, 0x7F, 0x10, 0x10, 0x9E, 0x10, 0x11, 0x1A, 0x1B, 0x30, 0x12,
                        0x13, 0xB0, 0x14, 0x15});
}
BENCHMARK(BM_FilterFrameAndKeystrokes);

void BM_WireRoundTrip(benchmark::State& state) {
  const auto length = static_cast<std::size_t>(state.range(0));
  sim::EchoFirmware echo;
  kbdchannel::ChannelRig rig(echo, {.timeIncrement = static_cast<std::uint32_t>(state.range(1))});
  if (rig.attach() != STATUS_SUCCESS) {
    state.SkipWithError("attach failed");
    return;
  }
  const std::vector<std::uint8_t> command(length, 0x5A);
  Duration simulated{0};
  for (auto _ : state) {
    const Duration start = rig.scheduler().now();
    const std::size_t before = rig.dataCallbacks().size();
    if (rig.sendTerminal(command) != kbdchannel::kSendOk ||
        !rig.scheduler().runUntil([&] { return rig.dataCallbacks().size() == before + 2 + length; },
                                  60s)) {
      state.SkipWithError("no answer");
      return;
    }
    simulated += rig.scheduler().now() - start;
  }
  const double lineBits = ((4.0 + 2 * length) * 2 + 6 + 2 * length) * 11;
  const double ms = std::chrono::duration<double, std::milli>(simulated).count() /
                    static_cast<double>(state.iterations());
  state.counters["sim_ms"] = ms;
  state.counters["line_ms_16k7"] = lineBits / 16.7;
  state.counters["line_ms_10k"] = lineBits / 10.0;
  state.counters["x_slow_line"] = ms / (lineBits / 10.0);
}
// state.range(1): the machine's clock tick in 100 ns units, 1 ms and NT's
// default 15.625 ms.
BENCHMARK(BM_WireRoundTrip)
    ->ArgNames({"bytes", "tick"})
    ->ArgsProduct({{1, 16, 64, 256}, {10'000, 156'250}})
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

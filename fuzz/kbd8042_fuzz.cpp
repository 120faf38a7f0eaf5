// Arbitrary port reads and writes, key strokes, mouse bytes, faults and time
// steps against the keyboard models. Input: a stream of [operation][argument].
// Nothing may crash and no queue may outgrow its bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sim/kbd8042/keyboard_wiring.h"
#include "sim/kbd8042/queue_timeline.h"

namespace {

constexpr std::size_t kQueueCapacity = 4096;
constexpr std::uint16_t kPorts[] = {0x21, 0x60, 0x64, 0x61};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace k52::sim;
  QueueTimeline timeline;
  EchoFirmware firmware;
  KeyboardWiring wiring(
      timeline, firmware,
      {.controller = {.queueCapacity = kQueueCapacity}, .terminal = {.frameMarker = 0xFF}});
  bool isrReads = true;
  wiring.onIrq1([&] {
    if (isrReads) wiring.readPort(Controller8042::kDataPort);
  });

  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const std::uint8_t arg = data[i + 1];
    switch (data[i] % 10) {
      case 0:
        wiring.readPort(kPorts[arg % 4]);
        break;
      case 1:
        wiring.writePort(kPorts[arg % 4], static_cast<std::uint8_t>(arg >> 2));
        break;
      case 2:
        wiring.writePort(Controller8042::kDataPort, arg);
        break;
      case 3:
        wiring.writePort(Controller8042::kCommandPort, arg);
        break;
      case 4:
        wiring.keyboard().type(std::span(&arg, 1));
        break;
      case 5:
        wiring.controller().fromAux(arg);
        break;
      case 6:
        timeline.runFor(std::chrono::microseconds(100) * arg);
        break;
      case 7:
        isrReads = !isrReads;
        break;
      case 8:
        wiring.dropAcks(arg % 4);
        wiring.terminal().truncateNextFrame(arg % 16);
        break;
      case 9:
        wiring.terminal().injectKeystrokeInNextFrame(arg, arg % 8);
        wiring.terminal().floodNextFrame(std::size_t{arg} * 16);
        break;
    }
    if (wiring.controller().queuedBytes() > 2 * kQueueCapacity) std::abort();
    if (wiring.terminal().pendingAnswers() > TerminalWireConfig{}.maxPendingAnswers) std::abort();
  }
  timeline.runFor(std::chrono::seconds(10));
  return 0;
}

// The FNX family against a reader that answers with the fuzzer's bytes:
// every host character is answered by 0..3 bytes of the input. Attach and a
// few operations must end in success or "1008", within bounded virtual
// time, whatever comes back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "chiphost/core/excpt.h"
#include "chiphost/readers/basic_reader_host.h"
#include "chiphost/readers/driver_channel.h"
#include "platform/win32/comm/comm.h"
#include "platform/win32/comm/simulated_comm_line.h"
#include "platform/win32/messaging/user.h"

namespace {

using namespace std::chrono_literals;

struct Replayer : k52::win32::CommDevice {
  Replayer(k52::win32::SimulatedCommLine& line, std::span<const std::uint8_t> data)
      : line(line), data(data) {}
  void receive(std::uint8_t, const k52::win32::LineFrame&) override {
    if (data.empty()) return;
    const std::size_t n = std::min<std::size_t>(data[0] % 4, data.size() - 1);
    line.send(data.subspan(1, n));
    data = data.subspan(1 + n);
  }
  void outputsChanged(const k52::win32::ModemOutputs& o) override {
    if (o.breakOn && !data.empty() && (data[0] & 0x80)) line.sendBreak(1ms);
  }
  k52::win32::SimulatedCommLine& line;
  std::span<const std::uint8_t> data;
};

void expectReaderError(const k52::chiphost::Excpt& e) {
  if (e.text() != "1008") std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static k52::VirtualClock* clock = [] {
    auto* c = new k52::VirtualClock;
    k52::win32::attach(k52::win32::Prefix("/tmp/k52-fnx-reader-fuzz"), *c);
    return c;
  }();
  auto line = std::make_shared<k52::win32::SimulatedCommLine>(*clock);
  Replayer reader(*line, {data, size});
  line->attach(&reader);
  line->setInputs(k52::win32::MS_DSR_ON | k52::win32::MS_CTS_ON);
  k52::win32::attachPort(3, line);
  {
    k52::chiphost::BasicReaderHost host;
    k52::chiphost::ReaderAttachment card(host, 3, 0);
    const auto start = clock->now();
    try {
      card.Attach(0);
      card.CardPresent();
      card.SetLed(1);
      std::vector<std::uint8_t> answer;
      const std::uint8_t bytes[] = {0x00, 0xA4, 0x04, 0x00};
      card.Transmit(2, true, 50, 200, answer, bytes);
      std::uint8_t first = 0;
      card.ResetCard(true, first, 200);
      card.Attach(3);
    } catch (const k52::chiphost::Excpt& e) {
      expectReaderError(e);
    }
    // Attach: 23 identify attempts and the windows after them; each
    // operation at most its retry window.
    if (clock->now() - start > 120s) std::abort();
  }
  line->attach(nullptr);
  k52::win32::attachPort(3, nullptr);
  return 0;
}

// fnxsim's inputs: its command line (NUL-separated arguments), the same
// bytes as a control line, and as characters from a host into the firmware
// of a twin reader with a card, at a speed the bytes choose.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz/nul_separated_args.h"
#include "sim/card/purse.h"
#include "sim/fnx/fnx_firmware.h"
#include "sim/fnx/fnxsim_control.h"
#include "sim/fnx/fnxsim_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)k52::sim::parseFnxsimOptions(k52::fuzz::nulSeparatedArgs(text));
  (void)k52::sim::parseFnxControlLine(text);

  std::size_t sent = 0;
  k52::sim::FnxFirmware fw({.type = 7, .firmware = 0x42},
                           [&](std::span<const std::uint8_t> b) { sent += b.size(); });
  fw.insertCard(0, std::make_shared<k52::sim::ContactCard>(
                       std::make_shared<k52::sim::Card>(k52::sim::makePurseCard({}))));
  k52::Duration now{0};
  for (std::size_t i = 0; i < size; ++i) {
    // A byte 0xF0..0xF3 now and then stands for a break or a pause.
    if (data[i] == 0xF1) fw.lineBreak();
    now += std::chrono::milliseconds(data[i] == 0xF2 ? 60 : 1);
    fw.receive(data[i], now);
  }
  return 0;
}

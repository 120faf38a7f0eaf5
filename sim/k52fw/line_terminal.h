// The K52 firmware as the device at the far end of a simulated serial line
// on the kernel model's clock: the serial terminal for tests of the host's
// serial transport. It takes the frames the port sends and answers each
// through the firmware, late answers included.
#pragma once

#include <cstdint>

#include "platform/nt/serial/simulated_line.h"
#include "sim/k52fw/frame_reader.h"
#include "sim/k52fw/k52_firmware.h"

namespace k52::sim {

class LineTerminal final : public nt::serial::SerialDevice {
 public:
  // Attaches itself to `line`; both must outlive it.
  LineTerminal(K52Firmware& firmware, nt::serial::SimulatedLine& line);
  ~LineTerminal() override;
  LineTerminal(const LineTerminal&) = delete;
  LineTerminal& operator=(const LineTerminal&) = delete;

  void receive(std::uint8_t byte) override;

 private:
  void send(const std::vector<std::uint8_t>& answer);

  K52Firmware& firmware_;
  nt::serial::SimulatedLine& line_;
  FrameReader reader_;
};

}  // namespace k52::sim

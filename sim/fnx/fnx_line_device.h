// An FNX reader on a simulated COM line: each character the host sends is
// checked against the firmware's speed, parity and two stop bits and handed
// on garbled when they differ (so is each answer character the host would
// receive at a frame it does not expect); the host's break sends the reader
// back to 9600; a card coming or going is signalled with a break towards the
// host. The reader shows DSR and CTS on.
#pragma once

#include <memory>

#include "platform/win32/comm/simulated_comm_line.h"
#include "sim/fnx/fnx_firmware.h"

namespace k52::sim {

class FnxLineDevice final : public win32::CommDevice {
 public:
  FnxLineDevice(std::shared_ptr<win32::SimulatedCommLine> line, FnxConfig config);
  ~FnxLineDevice() override;
  FnxLineDevice(const FnxLineDevice&) = delete;
  FnxLineDevice& operator=(const FnxLineDevice&) = delete;

  FnxFirmware& firmware() { return firmware_; }
  win32::SimulatedCommLine& line() { return *line_; }

  void receive(std::uint8_t byte, const win32::LineFrame& hostFrame) override;
  void outputsChanged(const win32::ModemOutputs& outputs) override;

 private:
  bool frameMatches(const win32::LineFrame& hostFrame) const;
  void sendToHost(std::span<const std::uint8_t> bytes);

  std::shared_ptr<win32::SimulatedCommLine> line_;
  FnxFirmware firmware_;
  bool breakOn_ = false;
};

}  // namespace k52::sim

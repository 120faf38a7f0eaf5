// Our serial-sharing driver "\\.\pvkms.Vxd": it owns one COM port's line
// (the reader's) and serves the card server's IO controls on it:
//   1  settings record in; the line takes baud, data bits, parity and stop
//      bits; the record comes back with the baud the line now runs
//   2  the timing frame: sent to the reader
//   4  bytes to the reader;  5 bytes waiting (uint16);  6 read them
//   7  the window and message to post when a sharing period ends
//   8  the port number it serves;  9 drop pending input;  11 poll: nothing
//   12 status: bit 1 while the other device has the line
// share(ms) lends the line to the other device for `ms`: status bit 1 is
// set, traffic both ways waits in the driver, and
// at the end the registered window gets the registered message (2023).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/win32/comm/comm_line.h"
#include "platform/win32/comm/device.h"

namespace k52::sim {

class SharingDriver final : public win32::DeviceProvider {
 public:
  // `trace` gets one line per IO control.
  SharingDriver(std::shared_ptr<win32::CommLine> line, int port, Clock& clock,
                std::function<void(const std::string&)> trace = {});

  std::optional<std::vector<std::uint8_t>> ioControl(win32::DWORD code,
                                                     std::span<const std::uint8_t> input,
                                                     win32::DWORD outSize) override;

  void share(std::chrono::milliseconds period);
  // Ends a sharing period that is over (posting the message); called on
  // every IO control and by the serving loop.
  void runDue();

  int calls(win32::DWORD code) const;
  const std::vector<std::vector<std::uint8_t>>& timingFrames() const { return timingFrames_; }
  win32::HWND context() const { return context_; }

 private:
  std::shared_ptr<win32::CommLine> line_;
  int port_;
  Clock& clock_;
  std::function<void(const std::string&)> trace_;
  win32::LineFrame frame_;
  std::optional<Duration> sharedUntil_;
  win32::HWND context_ = 0;
  std::uint32_t message_ = 0;
  std::vector<std::vector<std::uint8_t>> timingFrames_;
  std::vector<std::uint8_t> held_;  // host bytes written while shared
  std::vector<int> calls_ = std::vector<int>(16, 0);
};

}  // namespace k52::sim

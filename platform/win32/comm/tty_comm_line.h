// A COM line on a Linux tty path (a serial device, or the slave of a pty
// that a simulator serves), in raw mode through platform/termios.
//
// On a pty the parity, the break and the modem lines do not exist: DSR and
// CTS read on for as long as the far end keeps the master open, and nothing
// once it has hung up; a break is accepted and goes nowhere.
#pragma once

#include <memory>
#include <string>

#include "platform/win32/comm/comm_line.h"

namespace k52::win32 {

class TtyCommLine final : public CommLine {
 public:
  // Opens and sets up the path (9600 8N1); nullptr when that fails.
  static std::unique_ptr<TtyCommLine> open(const std::string& path);
  ~TtyCommLine() override;
  TtyCommLine(const TtyCommLine&) = delete;
  TtyCommLine& operator=(const TtyCommLine&) = delete;

  bool configure(const LineFrame& frame) override;
  void setOutputs(const ModemOutputs& outputs) override;
  std::uint32_t modemStatus() override;
  std::size_t write(std::span<const std::uint8_t> bytes) override;
  std::size_t read(std::span<std::uint8_t> buffer) override;
  std::size_t inputCount() override;
  std::size_t outputCount() override;
  std::uint32_t takeErrors() override;
  void purgeInput() override;
  void purgeOutput() override;
  bool waitForInput(Duration wait) override;
  bool connected() override;

 private:
  explicit TtyCommLine(int fd) : fd_(fd) {}
  int fd_;
  ModemOutputs outputs_;
};

}  // namespace k52::win32

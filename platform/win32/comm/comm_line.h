// The far end of a COM handle: what bytes go into and come out of, and the
// modem lines. Two kinds: a termios tty (tty_comm_line.h) and a device model
// in this process timed on a Clock (simulated_comm_line.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/clock/clock.h"

namespace k52::win32 {

// Baud rate and character frame, parity and stop bits in the Win32 coding
// (NOPARITY.., ONESTOPBIT..).
struct LineFrame {
  std::uint32_t baudRate = 9600;
  std::uint8_t dataBits = 8;
  std::uint8_t parity = 0;
  std::uint8_t stopBits = 0;

  // Bits of one character on the wire: start, data, parity, stop.
  unsigned bitsPerCharacter() const;
  // One character's time at the baud rate.
  Duration characterTime() const;
  bool operator==(const LineFrame&) const = default;
};

struct ModemOutputs {
  bool dtr = false;
  bool rts = false;
  bool breakOn = false;
};

class CommLine {
 public:
  virtual ~CommLine() = default;

  // False when the line cannot carry the frame; nothing changes then.
  virtual bool configure(const LineFrame& frame) = 0;
  virtual void setOutputs(const ModemOutputs& outputs) = 0;
  // MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON as the line shows them.
  virtual std::uint32_t modemStatus() = 0;

  // Queues bytes for sending; the count taken (all, unless the line is
  // gone).
  virtual std::size_t write(std::span<const std::uint8_t> bytes) = 0;
  // Takes up to buffer.size() received bytes without waiting.
  virtual std::size_t read(std::span<std::uint8_t> buffer) = 0;
  virtual std::size_t inputCount() = 0;
  virtual std::size_t outputCount() = 0;
  // CE_ bits seen since the last call.
  virtual std::uint32_t takeErrors() = 0;
  virtual void purgeInput() = 0;
  virtual void purgeOutput() = 0;

  // Waits up to `wait` for input. A line on a real clock blocks; one on a
  // virtual clock moves time on (at most `wait`) to its next due event.
  // True when input is waiting.
  virtual bool waitForInput(Duration wait) = 0;
  // False once the far end is gone (unplugged, hung up).
  virtual bool connected() = 0;
};

}  // namespace k52::win32

// The far end of a serial port: what the serial port driver sends its bytes
// into and receives them from. Two kinds exist:
//   TtyLine        a Linux tty or pty path, set up with termios (real clock);
//   SimulatedLine  an in-process device model with byte timing on the
//                  scheduler's clock (virtual clock).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>

#include "platform/clock/clock.h"
#include "platform/nt/serial/ntddser.h"

namespace k52::nt::serial {

// What the port's baud rate and line control requests set.
struct LineSettings {
  ULONG baudRate = 9600;
  UCHAR dataBits = 8;
  UCHAR parity = NO_PARITY;
  UCHAR stopBits = STOP_BIT_1;

  // The time `count` characters take on the wire, each a start bit, the data
  // bits, the parity bit and the stop bits at the baud rate.
  Duration timeFor(std::uint64_t count) const;
  // How many whole characters go out in `elapsed`.
  std::uint64_t charactersIn(Duration elapsed) const;
};

class SerialLine {
 public:
  // Takes bytes that arrived from the far end.
  using Receiver = std::function<void(std::span<const std::uint8_t>)>;

  virtual ~SerialLine() = default;

  // Starts the line when the port is opened; from then on received bytes go
  // to `receiver`, always in a Dispatch event of the current Kernel's
  // scheduler (never inside a call into the line). False when the line
  // cannot be opened.
  virtual bool open(Receiver receiver) = 0;
  // Stops the line; `receiver` is not called again once this returns.
  virtual void close() = 0;

  // Applies baud rate and frame; false when the line cannot carry them.
  virtual bool configure(const LineSettings& settings) = 0;

  // Hands bytes over for sending; they leave in order, one character time
  // each, behind those handed over before.
  virtual void transmit(std::span<const std::uint8_t> bytes) = 0;
  // Drops what transmit() handed over and has not gone out yet.
  virtual void abortTransmit() = 0;
  // Drops what has arrived and not been handed to the receiver yet.
  virtual void discardReceived() = 0;
};

// The receiver of an open line, shared with deliveries still on their way:
// delivering after clear() does nothing.
class ReceiverSlot {
 public:
  void set(SerialLine::Receiver receiver);
  void clear();
  void deliver(std::span<const std::uint8_t> bytes);

 private:
  std::mutex mutex_;
  SerialLine::Receiver receiver_;
};

}  // namespace k52::nt::serial

// A serial line whose far end is a device model in this process, timed on
// the scheduler's clock (the virtual one in tests and simulators).
//
// Bytes the port transmits reach the device one character time apart (at the
// port's baud rate and frame), each as a Device event calling
// SerialDevice::receive when its stop bit ends. Bytes the device sends with
// send() reach the port the same way, queued behind those still on the
// wire, and the driver takes them in an interrupt. Both ends run at the
// port's settings; the device can read them with settings().
//
//   SimulatedLine line(kernel.scheduler());
//   EchoDevice echo(line);                 // a SerialDevice
//   line.attach(&echo);
//   serial::attachLine(0, line.shared());  // COM1 before SerialDriverEntry
//
// Pending events hold the line's state weakly: the line may go before or
// after the kernel. The attached device must stay alive while attached.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/nt/scheduler.h"
#include "platform/nt/serial/serial_line.h"

namespace k52::nt::serial {

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;
  // A byte from the port has arrived. Runs in a Device event: it may call
  // SimulatedLine::send and schedule Device events, nothing else.
  virtual void receive(std::uint8_t byte) = 0;
};

class SimulatedLine final : public SerialLine {
 public:
  explicit SimulatedLine(Scheduler& scheduler);

  // The device at the far end; null detaches it (bytes then fall off).
  void attach(SerialDevice* device);

  // The device sends `bytes` to the port. While the port is closed they are
  // lost, as on a real line. From a Device event or a simulated thread.
  void send(std::span<const std::uint8_t> bytes);

  LineSettings settings() const;
  bool isOpen() const;

  bool open(Receiver receiver) override;
  void close() override;
  bool configure(const LineSettings& settings) override;
  void transmit(std::span<const std::uint8_t> bytes) override;
  void abortTransmit() override;
  void discardReceived() override;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace k52::nt::serial

// A COM line whose far end is a device model in this process, timed on a
// Clock (the VirtualClock in tests and in-process simulators).
//
// Each byte takes one character time of the host's frame on the wire, both
// ways, queued behind those still travelling: a byte the host writes reaches
// the device (CommDevice::receive) when its stop bit ends, and a byte the
// device sends reaches the host's input queue the same way. The device sees
// the host's DTR, RTS and break and sets CTS, DSR, RI and DCD; it can send a
// byte flagged with a parity or framing error, send a break (CE_BREAK at the
// host) and be unplugged.
//
// Time moves on only through the clock: everything due is run whenever the
// host touches the line. On a VirtualClock a host wait that finds nothing
// moves the clock to the next due event, at most 1 ms on, so busy-waits end.
//
// One thread at a time uses a line and its device (the card server's and a
// test's single thread); the device must stay alive while attached.
//
//   VirtualClock clock;
//   auto line = std::make_shared<SimulatedCommLine>(clock);
//   line->attach(&device);
//   attachPort(3, line);          // COM3 in this process (com_ports.h)
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <utility>

#include "platform/win32/comm/comm_line.h"

namespace k52::win32 {

class CommDevice {
 public:
  virtual ~CommDevice() = default;
  // A character from the host has arrived, sent with `hostFrame`.
  virtual void receive(std::uint8_t byte, const LineFrame& hostFrame) = 0;
  // The host changed DTR, RTS or break.
  virtual void outputsChanged(const ModemOutputs&) {}
};

class SimulatedCommLine final : public CommLine {
 public:
  explicit SimulatedCommLine(Clock& clock);

  Clock& clock() const { return clock_; }
  // The time of the event being run (a device acts at the moment a byte
  // arrived, however late the host looks), else the clock's time.
  Duration now() const { return eventTime_ ? *eventTime_ : clock_.now(); }

  // --- the device's side ---------------------------------------------------
  void attach(CommDevice* device) { device_ = device; }
  // Sends bytes to the host, one character time each at the host's frame.
  void send(std::span<const std::uint8_t> bytes);
  // One byte that the host's UART receives with `errors` (CE_RXPARITY,
  // CE_FRAME): the error shows in ClearCommError when the byte is read.
  void sendFlagged(std::uint8_t byte, std::uint32_t errors);
  // A break of `length` after the bytes on the wire; CE_BREAK at its end.
  void sendBreak(Duration length);
  // MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON.
  void setInputs(std::uint32_t modemStatus) { inputs_ = modemStatus; }
  // Runs `action` at the clock time `due` (a device's own timer).
  void schedule(Duration due, std::function<void()> action);
  // The cable comes out: nothing passes either way, writes fail, the modem
  // inputs read 0. plug() puts it back.
  void unplug();
  void plug() { plugged_ = true; }
  const LineFrame& hostFrame() const { return frame_; }
  const ModemOutputs& hostOutputs() const { return outputs_; }

  // Runs what is due by now; the earliest time still pending, if any.
  void run();
  std::optional<Duration> nextDue() const;

  // --- CommLine --------------------------------------------------------------
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
  bool connected() override { return plugged_; }

 private:
  struct Received {
    std::uint8_t byte;
    std::uint32_t errors;
  };
  struct Event {
    std::function<void()> action;
    // Host-bound bytes and bytes to the device are dropped by a purge of
    // their direction.
    enum class Kind { kTimer, kToDevice, kToHost } kind;
  };

  // Appends a character to one direction of the wire; its arrival time.
  Duration nextCharacterSlot(Duration& wireFree);
  void post(Duration due, Event event);

  Clock& clock_;
  CommDevice* device_ = nullptr;
  LineFrame frame_;
  ModemOutputs outputs_;
  std::uint32_t inputs_ = 0;
  bool plugged_ = true;
  std::uint32_t errors_ = 0;
  std::deque<Received> input_;
  Duration toDeviceFree_{0};
  Duration toHostFree_{0};
  std::uint64_t sequence_ = 0;
  std::optional<Duration> eventTime_;
  std::map<std::pair<Duration, std::uint64_t>, Event> events_;
};

}  // namespace k52::win32

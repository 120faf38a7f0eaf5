// The PC/AT keyboard controller seen from the host: data port 0x60 and
// status/command port 0x64, with the keyboard behind one PS/2 line and an
// auxiliary (mouse) source behind the other.
//
// Timing: a byte takes `lineTime` on the PS/2 line in either direction. A
// byte written to port 0x60 keeps the input-buffer-full status bit set for
// that long and then reaches the keyboard. A byte from the keyboard enters
// the output buffer `lineTime` after the buffer became free, so after each
// read of port 0x60 the next byte follows one line time later. Controller
// commands take no time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

#include "sim/kbd8042/pic.h"
#include "sim/kbd8042/timeline.h"

namespace k52::sim {

struct Controller8042Config {
  // 11 bits (start, 8 data, parity, stop) at the line's 10-16.7 kHz clock.
  Duration lineTime = std::chrono::milliseconds(1);
  // What the firmware leaves after power-on: keyboard and aux interrupts on,
  // system flag, scan code translation; both interfaces enabled.
  std::uint8_t commandByte = 0x47;
  // Bytes waiting behind the output buffer, per source. Holds the largest
  // answer frame the terminal can send (2 * (2 + 65535) + 2 codes) with room
  // to spare; bytes beyond it are dropped and counted.
  std::size_t queueCapacity = std::size_t{1} << 18;
};

class Controller8042 {
 public:
  static constexpr std::uint16_t kDataPort = 0x60;
  static constexpr std::uint16_t kCommandPort = 0x64;

  static constexpr std::uint8_t kStatusOutputFull = 0x01;
  static constexpr std::uint8_t kStatusInputFull = 0x02;
  static constexpr std::uint8_t kStatusAuxData = 0x20;

  static constexpr std::uint8_t kReadCommandByte = 0x20;
  static constexpr std::uint8_t kWriteCommandByte = 0x60;
  static constexpr std::uint8_t kDisableAux = 0xA7;
  static constexpr std::uint8_t kEnableAux = 0xA8;
  static constexpr std::uint8_t kDisableKeyboard = 0xAD;
  static constexpr std::uint8_t kEnableKeyboard = 0xAE;

  static constexpr std::uint8_t kKeyboardInterrupt = 0x01;
  static constexpr std::uint8_t kKeyboardDisabled = 0x10;
  static constexpr std::uint8_t kAuxDisabled = 0x20;

  Controller8042(Timeline& timeline, Pic& pic, Controller8042Config config = {});

  // Host side. Unknown ports read 0xFF and ignore writes.
  std::uint8_t readPort(std::uint16_t port);
  void writePort(std::uint16_t port, std::uint8_t value);

  // Where host bytes go once they have crossed the line.
  void connectKeyboard(std::function<void(std::uint8_t)> sink);

  // Device side: a byte the keyboard or the mouse sends to the host.
  void fromKeyboard(std::uint8_t byte);
  void fromAux(std::uint8_t byte);

  std::uint8_t commandByte() const { return commandByte_; }
  std::size_t queuedBytes() const { return keyboardQueue_.size() + auxQueue_.size(); }
  std::size_t droppedBytes() const { return droppedBytes_; }
  // Host bytes lost because the host wrote again while input-buffer-full.
  std::size_t overwrittenHostBytes() const { return overwrittenHostBytes_; }

 private:
  std::uint8_t status() const;
  void command(std::uint8_t code);
  void setCommandByte(std::uint8_t value);
  void sendToKeyboard(std::uint8_t byte);
  void enqueue(std::deque<std::uint8_t>& queue, std::uint8_t byte);
  bool keyboardEnabled() const { return (commandByte_ & kKeyboardDisabled) == 0; }
  bool auxEnabled() const { return (commandByte_ & kAuxDisabled) == 0; }
  void pump();
  void transfer();
  void fillOutput(std::uint8_t byte, bool aux);
  void updateIrq();

  Timeline& timeline_;
  Pic& pic_;
  Controller8042Config config_;
  std::function<void(std::uint8_t)> keyboard_;

  std::uint8_t commandByte_;
  bool expectingCommandByte_ = false;

  std::optional<std::uint8_t> output_;
  bool outputAux_ = false;
  std::uint8_t lastOutput_ = 0x00;
  // The controller's own answer (the command byte); it goes ahead of
  // anything the devices queued.
  std::optional<std::uint8_t> reply_;
  std::deque<std::uint8_t> keyboardQueue_;
  std::deque<std::uint8_t> auxQueue_;
  bool transferScheduled_ = false;
  bool irqLine_ = false;

  std::optional<std::uint8_t> input_;
  std::size_t droppedBytes_ = 0;
  std::size_t overwrittenHostBytes_ = 0;
};

}  // namespace k52::sim

// The K52 keyboard on a PC: the keyboard controller and the interrupt
// controller's mask register on the host side, and behind the line the
// keyboard with its card terminal.
//
// Every host byte that reaches the keyboard is acknowledged with 0xFE first.
// Nibble codes 0xB0..0xBF then go to the terminal, other bytes to the
// keyboard, except that a parameter the keyboard is waiting for always goes
// to the keyboard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "sim/kbd8042/controller8042.h"
#include "sim/kbd8042/host_byte_recorder.h"
#include "sim/kbd8042/keyboard.h"
#include "sim/kbd8042/pic.h"
#include "sim/kbd8042/terminal_firmware.h"
#include "sim/kbd8042/terminal_wire.h"
#include "sim/kbd8042/timeline.h"

namespace k52::sim {

struct KeyboardWiringConfig {
  Controller8042Config controller;
  KeyboardConfig keyboard;
  TerminalWireConfig terminal;
};

class KeyboardWiring {
 public:
  static constexpr std::uint8_t kAck = 0xFE;

  KeyboardWiring(Timeline& timeline, TerminalFirmware& firmware, KeyboardWiringConfig config = {});
  KeyboardWiring(const KeyboardWiring&) = delete;
  KeyboardWiring& operator=(const KeyboardWiring&) = delete;

  // The I/O ports this wiring decodes: 0x21, 0x60 and 0x64.
  static bool decodes(std::uint16_t port);
  std::uint8_t readPort(std::uint16_t port);
  void writePort(std::uint16_t port, std::uint8_t value);

  // The host's keyboard interrupt service routine.
  void onIrq1(std::function<void()> isr);

  // The next `count` host bytes get no acknowledgment.
  void dropAcks(std::size_t count) { acksToDrop_ = count; }

  Pic& pic() { return pic_; }
  Controller8042& controller() { return controller_; }
  Keyboard& keyboard() { return keyboard_; }
  TerminalWire& terminal() { return terminal_; }
  const HostByteRecorder& hostBytes() const { return recorder_; }
  HostByteRecorder& hostBytes() { return recorder_; }

 private:
  void fromHost(std::uint8_t byte);

  Timeline& timeline_;
  Pic pic_;
  Controller8042 controller_;
  Keyboard keyboard_;
  TerminalWire terminal_;
  HostByteRecorder recorder_;
  std::size_t acksToDrop_ = 0;
};

}  // namespace k52::sim

// The K52 keyboard with its card terminal on real time: the keyboard
// controller, interrupt controller mask and keyboard (KeyboardWiring), the
// terminal's firmware with its keypad on the keyboard, and the card slot.
// Single-threaded: whoever runs it calls catchUp() whenever time has passed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/k52fw/card_description.h"
#include "sim/k52fw/k52_firmware.h"
#include "sim/k52fw/keypad.h"
#include "sim/k52sim/control_request.h"
#include "sim/kbd8042/keyboard_wiring.h"
#include "sim/kbd8042/queue_timeline.h"

namespace k52::sim {

class KeyboardUnit {
 public:
  KeyboardUnit();
  KeyboardUnit(const KeyboardUnit&) = delete;
  KeyboardUnit& operator=(const KeyboardUnit&) = delete;

  // Runs what has fallen due up to the present.
  void catchUp();
  // Time from now until the next action is due; nullopt when none is.
  std::optional<std::chrono::nanoseconds> untilNextDue() const;

  // Port accesses at the present moment (0x21, 0x60..0x64).
  std::uint8_t readPort(std::uint16_t port);
  void writePort(std::uint16_t port, std::uint8_t value);
  // Runs inside catchUp() for every IRQ1 the controller raises.
  void onIrq1(std::function<void()> isr) { wiring_.onIrq1(std::move(isr)); }

  void insertCard(const CardDescription& card);
  // Keys typed whenever the terminal asks for a PIN.
  void typeAtEveryPinEntry(std::vector<KeypadKey> keys) { everyPinEntry_ = std::move(keys); }
  bool cardPresent() { return firmware_.slot().present(); }

  // Carries out a control request; the text to show its sender.
  std::string carryOut(const ControlRequest& request, bool pcConnected);

 private:
  void type(const std::vector<KeypadKey>& keys);
  void pinEntryStarted();

  QueueTimeline timeline_;
  K52Firmware firmware_;
  KeyboardWiring wiring_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::vector<KeypadKey> everyPinEntry_;
  std::optional<std::vector<KeypadKey>> nextPinEntry_;
};

}  // namespace k52::sim

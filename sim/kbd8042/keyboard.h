// The keys of the K52 keyboard: scan code set 1 make and break codes
// for key strokes, and the few host commands that carry a parameter byte.
// Acknowledging host bytes is the wiring's job, since it also answers the
// bytes meant for the card terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>

#include "sim/kbd8042/timeline.h"

namespace k52::sim {

struct KeyboardConfig {
  // Between consecutive codes of type(): a make and its break, and one key
  // and the next.
  Duration typingDelay = std::chrono::milliseconds(30);
};

class Keyboard {
 public:
  static constexpr std::uint8_t kBreakBit = 0x80;
  static constexpr std::uint8_t kCapsLock = 0x3A;
  static constexpr std::uint8_t kNumLock = 0x45;
  static constexpr std::uint8_t kScrollLock = 0x46;

  // Host commands followed by one parameter byte.
  static constexpr std::uint8_t kSetCharacterWaitingTime = 0xCB;
  static constexpr std::uint8_t kSetIndicators = 0xED;

  Keyboard(Timeline& timeline, std::function<void(std::uint8_t)> toController,
           KeyboardConfig config = {});

  // Sees every make and break code before the controller; a code it
  // returns true for is taken (the card terminal's keypad during a PIN
  // entry) and never reaches the host. An empty filter takes nothing.
  void setKeyFilter(std::function<bool(std::uint8_t)> filter) { keyFilter_ = std::move(filter); }

  // Sends a make code now, or its break code (make | 0x80).
  void press(std::uint8_t makeCode);
  void release(std::uint8_t makeCode);

  // Presses and releases each key in turn, one typing delay between codes,
  // after whatever an earlier type() still has to send.
  void type(std::span<const std::uint8_t> makeCodes);

  // A host byte that reached the keyboard.
  void receive(std::uint8_t hostByte);

  // The next host byte is the parameter of the last command.
  bool awaitingParameter() const { return pendingCommand_.has_value(); }

  std::optional<std::uint8_t> characterWaitingTime() const { return characterWaitingTime_; }
  std::optional<std::uint8_t> indicators() const { return indicators_; }

 private:
  Timeline& timeline_;
  void sendKeyCode(std::uint8_t code);

  std::function<void(std::uint8_t)> toController_;
  std::function<bool(std::uint8_t)> keyFilter_;
  KeyboardConfig config_;
  Duration typingFreeAt_{0};
  std::optional<std::uint8_t> pendingCommand_;
  std::optional<std::uint8_t> characterWaitingTime_;
  std::optional<std::uint8_t> indicators_;
};

}  // namespace k52::sim

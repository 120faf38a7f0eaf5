#include "sim/kbd8042/keyboard.h"

#include <algorithm>
#include <utility>

namespace k52::sim {

Keyboard::Keyboard(Timeline& timeline, std::function<void(std::uint8_t)> toController,
                   KeyboardConfig config)
    : timeline_(timeline), toController_(std::move(toController)), config_(config) {}

void Keyboard::press(std::uint8_t makeCode) {
  sendKeyCode(makeCode);
}

void Keyboard::release(std::uint8_t makeCode) {
  sendKeyCode(makeCode | kBreakBit);
}

void Keyboard::sendKeyCode(std::uint8_t code) {
  if (keyFilter_ && keyFilter_(code)) return;
  toController_(code);
}

void Keyboard::type(std::span<const std::uint8_t> makeCodes) {
  Duration at = std::max(typingFreeAt_, timeline_.now());
  for (const std::uint8_t code : makeCodes) {
    timeline_.schedule(at - timeline_.now(), [this, code] { press(code); });
    at += config_.typingDelay;
    timeline_.schedule(at - timeline_.now(), [this, code] { release(code); });
    at += config_.typingDelay;
  }
  typingFreeAt_ = at;
}

void Keyboard::receive(std::uint8_t hostByte) {
  if (pendingCommand_) {
    if (*pendingCommand_ == kSetCharacterWaitingTime) characterWaitingTime_ = hostByte;
    if (*pendingCommand_ == kSetIndicators) indicators_ = hostByte;
    pendingCommand_.reset();
    return;
  }
  if (hostByte == kSetCharacterWaitingTime || hostByte == kSetIndicators) {
    pendingCommand_ = hostByte;
  }
}

}  // namespace k52::sim

#include "sim/kbd8042/keyboard_wiring.h"

#include <utility>

namespace k52::sim {

KeyboardWiring::KeyboardWiring(Timeline& timeline, TerminalFirmware& firmware,
                               KeyboardWiringConfig config)
    : timeline_(timeline),
      pic_(timeline),
      controller_(timeline, pic_, config.controller),
      keyboard_(
          timeline, [this](std::uint8_t b) { controller_.fromKeyboard(b); }, config.keyboard),
      terminal_(
          timeline, firmware, [this](std::uint8_t b) { controller_.fromKeyboard(b); },
          config.terminal) {
  controller_.connectKeyboard([this](std::uint8_t b) { fromHost(b); });
}

bool KeyboardWiring::decodes(std::uint16_t port) {
  return port == Pic::kMaskPort || port == Controller8042::kDataPort ||
         port == Controller8042::kCommandPort;
}

std::uint8_t KeyboardWiring::readPort(std::uint16_t port) {
  return port == Pic::kMaskPort ? pic_.readPort(port) : controller_.readPort(port);
}

void KeyboardWiring::writePort(std::uint16_t port, std::uint8_t value) {
  if (port == Pic::kMaskPort) {
    pic_.writePort(port, value);
  } else {
    controller_.writePort(port, value);
  }
}

void KeyboardWiring::onIrq1(std::function<void()> isr) {
  pic_.connect(Pic::kKeyboardLine, std::move(isr));
}

void KeyboardWiring::fromHost(std::uint8_t byte) {
  recorder_.record(timeline_.now(), byte);
  if (acksToDrop_ > 0) {
    --acksToDrop_;
  } else {
    controller_.fromKeyboard(kAck);
  }
  if (!keyboard_.awaitingParameter() && isHostNibbleCode(byte)) {
    terminal_.setCharacterWaitingTime(keyboard_.characterWaitingTime().value_or(0));
    terminal_.receive(byte);
  } else {
    keyboard_.receive(byte);
  }
}

}  // namespace k52::sim

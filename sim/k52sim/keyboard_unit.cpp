#include "sim/k52sim/keyboard_unit.h"

#include <array>

#include "sim/k52fw/typist.h"

namespace k52::sim {

KeyboardUnit::KeyboardUnit() : firmware_(timeline_), wiring_(timeline_, firmware_) {
  firmware_.attachKeypad(wiring_.keyboard());
  firmware_.onPinEntry([this] { pinEntryStarted(); });
}

void KeyboardUnit::catchUp() {
  const Duration now = std::chrono::steady_clock::now() - start_;
  if (now > timeline_.now()) timeline_.runFor(now - timeline_.now());
}

std::optional<std::chrono::nanoseconds> KeyboardUnit::untilNextDue() const {
  const auto due = timeline_.nextDue();
  if (!due) return std::nullopt;
  const Duration now = std::chrono::steady_clock::now() - start_;
  return *due > now ? *due - now : Duration::zero();
}

std::uint8_t KeyboardUnit::readPort(std::uint16_t port) {
  catchUp();
  return wiring_.readPort(port);
}

void KeyboardUnit::writePort(std::uint16_t port, std::uint8_t value) {
  catchUp();
  wiring_.writePort(port, value);
}

void KeyboardUnit::insertCard(const CardDescription& card) {
  catchUp();
  firmware_.insertCard(makeCard(card));
}

// The keys go to the keyboard: the terminal takes them during a PIN entry,
// otherwise they reach the PC as keystrokes.
void KeyboardUnit::type(const std::vector<KeypadKey>& keys) {
  typeKeys(timeline_, keys, [this](KeypadKey key) {
    const std::array<std::uint8_t, 1> make{makeCodeOf(key)};
    wiring_.keyboard().type(make);
  });
}

void KeyboardUnit::pinEntryStarted() {
  if (nextPinEntry_) {
    type(*nextPinEntry_);
    nextPinEntry_.reset();
  } else {
    type(everyPinEntry_);
  }
}

std::string KeyboardUnit::carryOut(const ControlRequest& request, bool pcConnected) {
  catchUp();
  switch (request.action) {
    case ControlRequest::Action::kInsert:
      firmware_.insertCard(makeCard(request.card));
      return "card inserted\n";
    case ControlRequest::Action::kPull:
      if (!cardPresent()) return "no card in the slot\n";
      firmware_.pullCard();
      return "card pulled\n";
    case ControlRequest::Action::kKeys:
      type(request.keys);
      return "typing " + std::to_string(request.keys.size()) + " keys, one every 200 ms\n";
    case ControlRequest::Action::kPinKeys:
      nextPinEntry_ = request.keys;
      return std::to_string(request.keys.size()) + " keys to type at the next PIN entry\n";
    case ControlRequest::Action::kStatus:
      break;
  }
  return std::string("card in slot: ") + (cardPresent() ? "yes" : "no") +
         "\nPC connected: " + (pcConnected ? "yes" : "no") + "\n";
}

}  // namespace k52::sim

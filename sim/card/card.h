// A processor card at the application layer: an ATR, power state and the
// APDU interface. Transports (the vpcd socket, character or block level
// protocols) sit on top and only move bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "sim/card/apdu.h"
#include "sim/card/application.h"

namespace k52::sim {

class Card {
 public:
  // Throws std::invalid_argument unless `atr` is a well-formed ATR.
  explicit Card(std::vector<std::uint8_t> atr);

  // Adds an application; throws std::invalid_argument on a duplicate name.
  void install(std::unique_ptr<Application> application);

  const std::vector<std::uint8_t>& atr() const { return atr_; }
  bool powered() const { return powered_; }

  // Cold and warm reset both end in the master file with nothing selected.
  std::vector<std::uint8_t> powerOn();
  std::vector<std::uint8_t> reset();
  void powerOff();

  // One command APDU in, the response APDU (data + SW1 SW2) out. An
  // unpowered card is mute: the answer is empty.
  std::vector<std::uint8_t> process(std::span<const std::uint8_t> apdu);

 private:
  ResponseApdu dispatch(const CommandApdu& command);
  ResponseApdu select(const CommandApdu& command);
  ResponseApdu readRecord(const CommandApdu& command) const;
  void restart();

  std::vector<std::uint8_t> atr_;
  std::vector<std::unique_ptr<Application>> applications_;
  Application* selected_ = nullptr;  // nullptr: the master file is current
  bool powered_ = false;
};

}  // namespace k52::sim

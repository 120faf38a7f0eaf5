// The master interrupt controller, as far as the keyboard needs it: the mask
// register at port 0x21 and edge-triggered request lines 0-7.
//
// A request that arrives while its line is masked is latched and delivered
// once the line is unmasked, as the request register of the real chip does.
// Priorities, in-service state and end-of-interrupt are not modelled: every
// latched request is delivered once.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "sim/kbd8042/timeline.h"

namespace k52::sim {

class Pic {
 public:
  static constexpr std::uint16_t kMaskPort = 0x21;
  static constexpr int kLines = 8;
  static constexpr int kKeyboardLine = 1;

  explicit Pic(Timeline& timeline) : timeline_(timeline) {}

  // Port 0x21 reads and writes the mask; a set bit masks its line. Other
  // ports read 0xFF and ignore writes.
  std::uint8_t readPort(std::uint16_t port) const;
  void writePort(std::uint16_t port, std::uint8_t value);

  // The interrupt service routine of `line`; an empty handler drops requests.
  void connect(int line, std::function<void()> handler);

  // A rising edge on `line`. The handler runs later on the timeline, never
  // inside the caller, like an interrupt taken after the current instruction.
  void raise(int line);

 private:
  void scheduleDelivery();
  void deliver();

  Timeline& timeline_;
  std::uint8_t mask_ = 0x00;
  std::uint8_t requests_ = 0x00;
  bool deliveryScheduled_ = false;
  std::array<std::function<void()>, kLines> handlers_;
};

}  // namespace k52::sim

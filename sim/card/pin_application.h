// A test application guarding itself with a PIN: VERIFY compares the
// command data with the stored reference data, CHANGE REFERENCE DATA takes
// old and new reference data one after the other. Three wrong tries block
// it. What the reference data looks like (a PIN block, ASCII digits) is
// the test's choice; the application compares bytes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sim/card/application.h"
#include "sim/card/atr.h"
#include "sim/card/card.h"

namespace k52::sim {

inline constexpr std::uint8_t kPinAid[] = {0xD2, 0x76, 0x00, 0x00, 0x98, 0x50, 0x49, 0x4E};

class PinApplication final : public Application {
 public:
  static constexpr std::uint8_t kTries = 3;

  explicit PinApplication(std::vector<std::uint8_t> reference);

  std::span<const std::uint8_t> name() const override { return kPinAid; }
  bool hasRecordFile(std::uint8_t) const override { return false; }
  std::optional<std::vector<std::uint8_t>> record(std::uint8_t, std::uint8_t) const override {
    return std::nullopt;
  }
  ResponseApdu process(const CommandApdu& command) override;

  const std::vector<std::uint8_t>& reference() const { return reference_; }
  std::uint8_t triesLeft() const { return triesLeft_; }
  bool verified() const { return verified_; }

 private:
  ResponseApdu verify(std::span<const std::uint8_t> candidate);

  std::vector<std::uint8_t> reference_;
  std::uint8_t triesLeft_ = kTries;
  bool verified_ = false;
};

// A card with just the PIN application.
Card makePinCard(std::vector<std::uint8_t> reference, AtrProtocols protocols);

}  // namespace k52::sim

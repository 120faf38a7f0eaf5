// An application on the simulated card: a DF selected by name that owns
// record files. The card runs the interindustry commands (SELECT, READ
// RECORD) itself and hands everything else to the selected application.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/card/apdu.h"
#include "sim/card/status_words.h"

namespace k52::sim {

class Application {
 public:
  virtual ~Application() = default;

  // The DF name (AID) the application is selected by.
  virtual std::span<const std::uint8_t> name() const = 0;

  // Whether the DF holds a record EF with this short identifier.
  virtual bool hasRecordFile(std::uint8_t sfi) const = 0;

  // Record `number` (from 1) of that EF; nullopt past its last record.
  virtual std::optional<std::vector<std::uint8_t>> record(std::uint8_t sfi,
                                                          std::uint8_t number) const = 0;

  // Commands outside the card's own set, while this application is selected.
  virtual ResponseApdu process(const CommandApdu& /*command*/) {
    return statusOnly(sw::kInsNotSupported);
  }
};

}  // namespace k52::sim

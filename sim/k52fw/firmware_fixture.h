// A K52 firmware on a virtual timeline for the tests, with its late
// answers collected.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string_view>
#include <vector>

#include "sim/card/pin_application.h"
#include "sim/card/purse.h"
#include "sim/card/test_hex.h"
#include "sim/k52fw/k52_firmware.h"
#include "sim/kbd8042/queue_timeline.h"

namespace k52::sim {

using Bytes = std::vector<std::uint8_t>;

inline Bytes hex(std::string_view text) {
  return testhex::bytes(text);
}

class FirmwareTest : public ::testing::Test {
 protected:
  FirmwareTest() {
    firmware.connectLateAnswers([this](Bytes answer) { late.push_back(std::move(answer)); });
  }

  Bytes run(std::string_view command) { return firmware.execute(hex(command)); }

  std::shared_ptr<Card> insertPurse(AtrProtocols protocols = AtrProtocols::kT0AndT1,
                                    T0Options t0 = {}) {
    auto card = std::make_shared<Card>(makePurseCard(PurseConfig{1234, 20000, 5000}, protocols));
    firmware.insertCard(card, t0);
    return card;
  }

  // The answer to a cold reset: 64 and the ATR.
  Bytes powerOn() { return run("62"); }

  QueueTimeline timeline;
  K52Firmware firmware{timeline};
  std::vector<Bytes> late;
};

}  // namespace k52::sim

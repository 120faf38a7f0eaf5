#include "sim/kbd8042/keyboard_wiring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "sim/kbd8042/queue_timeline.h"

namespace k52::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::microseconds;
using C = Controller8042;

const Bytes kCommand{0xB0, 0xB0, 0xB0, 0xB3, 0xB1, 0xB2, 0xB3, 0xB4, 0xBA, 0xBB};

// A host like the driver: writes only when the input buffer is free and
// reads the data port from its keyboard interrupt.
class KeyboardWiringTest : public ::testing::Test {
 protected:
  KeyboardWiringTest() {
    wiring.onIrq1([this] { received.push_back(wiring.readPort(C::kDataPort)); });
  }

  void write(const Bytes& bytes) {
    for (const std::uint8_t b : bytes) {
      while ((wiring.readPort(C::kCommandPort) & C::kStatusInputFull) != 0) {
        timeline.runFor(microseconds(100));
      }
      wiring.writePort(C::kDataPort, b);
    }
  }

  QueueTimeline timeline;
  ScriptedFirmware firmware;
  KeyboardWiring wiring{timeline, firmware};
  Bytes received;
};

TEST_F(KeyboardWiringTest, EveryHostByteIsAcknowledgedAndRecorded) {
  const Bytes bytes{0xB0, 0xB5, 0xBF, 0xCB, 0x10, 0xED, 0x02, 0xF4, 0x00, 0xFF, 0xB0};
  write(bytes);
  timeline.runUntilIdle();
  EXPECT_EQ(received, Bytes(bytes.size(), KeyboardWiring::kAck));
  EXPECT_EQ(wiring.hostBytes().bytes(), bytes);
}

TEST_F(KeyboardWiringTest, NibbleCodesReachTheFirmwareAsACommand) {
  firmware.addAnswer({0x90, 0x00});
  write(kCommand);
  timeline.runUntilIdle();
  EXPECT_EQ(firmware.commands(), (std::vector<Bytes>{{0x12, 0x34, 0xAB}}));
  Bytes expected(kCommand.size(), KeyboardWiring::kAck);
  for (const std::uint8_t b : {0x64, 0x7F, 0x10, 0x10, 0x10, 0x12, 0x19, 0x10, 0x10, 0x10}) {
    expected.push_back(b);
  }
  EXPECT_EQ(received, expected);
}

TEST_F(KeyboardWiringTest, ParameterOfAKeyboardCommandIsNotANibble) {
  write({0xCB, 0xB3});
  write(kCommand);
  timeline.runUntilIdle();
  EXPECT_EQ(wiring.keyboard().characterWaitingTime(), 0xB3);
  EXPECT_EQ(firmware.commands(), (std::vector<Bytes>{{0x12, 0x34, 0xAB}}));
}

TEST_F(KeyboardWiringTest, DroppedAcknowledgmentsMissOnlyTheNextBytes) {
  wiring.dropAcks(2);
  write({0xB0, 0xB0, 0xB0, 0xB0});
  timeline.runUntilIdle();
  EXPECT_EQ(received, Bytes(2, KeyboardWiring::kAck));
  EXPECT_EQ(wiring.hostBytes().bytes(), Bytes(4, 0xB0));
}

TEST_F(KeyboardWiringTest, TypedKeysArriveAsMakeAndBreakCodes) {
  const Bytes keys{0x1E, Keyboard::kCapsLock, Keyboard::kNumLock, Keyboard::kScrollLock};
  wiring.keyboard().type(keys);
  wiring.keyboard().type(Bytes{0x30});
  timeline.runUntilIdle();
  EXPECT_EQ(received, (Bytes{0x1E, 0x9E, 0x3A, 0xBA, 0x45, 0xC5, 0x46, 0xC6, 0x30, 0xB0}));
}

TEST_F(KeyboardWiringTest, KeystrokeTypedDuringAnAnswerLandsBetweenItsCodes) {
  firmware.addAnswer({0x90, 0x00});
  write(kCommand);
  timeline.runFor(std::chrono::milliseconds(7));
  wiring.keyboard().press(0x1C);
  timeline.runUntilIdle();
  const Bytes answer{0x64, 0x7F, 0x10, 0x10, 0x10, 0x12, 0x19, 0x10, 0x10, 0x10};
  const Bytes tail(received.begin() + static_cast<std::ptrdiff_t>(kCommand.size()), received.end());
  ASSERT_EQ(tail.size(), answer.size() + 1);
  Bytes withoutKey = tail;
  const auto key = std::find(withoutKey.begin(), withoutKey.end(), 0x1C);
  ASSERT_NE(key, withoutKey.end());
  EXPECT_NE(key, withoutKey.begin());
  withoutKey.erase(key);
  EXPECT_EQ(withoutKey, answer);
}

}  // namespace
}  // namespace k52::sim

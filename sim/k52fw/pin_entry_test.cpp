// PIN entry on the terminal's keypad: the data field's rules, the keys,
// the time-outs, and the card command the terminal builds.
#include <gtest/gtest.h>

#include <string>

#include "sim/card/t1_block.h"
#include "sim/k52fw/firmware_fixture.h"
#include "sim/k52fw/pin_command.h"
#include "sim/kbd8042/keyboard_wiring.h"

namespace k52::sim {
namespace {

using std::chrono::seconds;

const std::string kSelectPin = "00 A4 04 0C 08 D2 76 00 00 98 50 49 4E";
// Format-2 PIN block of 1234.
const Bytes kBlock1234 = hex("24 12 34 FF FF FF FF FF");
const Bytes kBlock5678 = hex("24 56 78 FF FF FF FF FF");

// VERIFY with a format-2 block of at most 12 digits at offset 5, as the
// host sends it: the command object first, so its second byte is the
// sequence byte.
std::string verify(std::string_view sequence = "00") {
  return "6D 52 10 C1 " + std::string(sequence) + " 05 00 20 00 81 08 20 FF FF FF FF FF FF FF";
}
const std::string kModify =
    "6E 52 18 C1 00 05 00 24 00 81 10 20 FF FF FF FF FF FF FF 20 FF FF FF FF FF FF FF";

struct ParseCase {
  const char* name;
  const char* data;  // command byte first
  bool valid;
  std::optional<std::uint8_t> sequence;
  int timeout;
  std::size_t position;
};

class PinCommandRules : public ::testing::TestWithParam<ParseCase> {};

TEST_P(PinCommandRules, Parse) {
  const Bytes bytes = hex(GetParam().data);
  const auto command = parsePinCommand(bytes[0], std::span(bytes).subspan(1));
  ASSERT_EQ(command.has_value(), GetParam().valid);
  if (!command) return;
  EXPECT_EQ(command->sequence, GetParam().sequence);
  EXPECT_EQ(command->timeout, seconds(GetParam().timeout));
  EXPECT_EQ(command->position, GetParam().position);
}

INSTANTIATE_TEST_SUITE_P(
    K52Firmware, PinCommandRules,
    ::testing::Values(
        ParseCase{"First", "6D 52 10 C1 40 05 00 20 00 81 08 20 FF FF FF FF FF FF FF", true, 0x40,
                  15, 5},
        ParseCase{"AfterTimer", "6D 80 01 1E 52 10 C1 00 05 00 20 00 81 08 20 FF FF FF FF FF FF FF",
                  true, 0x00, 30, 5},
        ParseCase{"AfterDisplayNoSequence",
                  "6D 50 02 41 42 52 0F C1 05 00 20 00 81 08 20 FF FF FF FF FF FF FF", true,
                  std::nullopt, 15, 5},
        ParseCase{"TimerLast", "6D 52 10 C1 00 05 00 20 00 81 08 20 FF FF FF FF FF FF FF 80 01 05",
                  true, 0x00, 5, 5},
        ParseCase{"TimerZeroKeepsDefault",
                  "6D 80 01 00 52 10 C1 00 05 00 20 00 81 08 20 FF FF FF FF FF FF FF", true, 0x00,
                  15, 5},
        ParseCase{"NoCommandObject", "6D 80 01 1E", false, std::nullopt, 0, 0},
        ParseCase{"Truncated", "6D 52 10 C1 00 05 00 20", false, std::nullopt, 0, 0},
        ParseCase{"UnknownTag", "6D 51 01 00 52 0F C1 05 00 20 00 81 08 20 FF FF FF FF FF FF FF",
                  false, std::nullopt, 0, 0},
        ParseCase{"UnknownCoding", "6D 52 10 C3 00 05 00 20 00 81 08 20 FF FF FF FF FF FF FF",
                  false, std::nullopt, 0, 0},
        ParseCase{"NoDigits", "6D 52 10 01 00 05 00 20 00 81 08 20 FF FF FF FF FF FF FF", false,
                  std::nullopt, 0, 0},
        ParseCase{"PositionInHeader", "6D 52 10 C1 00 04 00 20 00 81 08 20 FF FF FF FF FF FF FF",
                  false, std::nullopt, 0, 0},
        ParseCase{"FieldPastTheEnd", "6D 52 10 C1 00 06 00 20 00 81 08 20 FF FF FF FF FF FF FF",
                  false, std::nullopt, 0, 0},
        ParseCase{"ModifyNeedsTwoFields",
                  "6E 52 10 C1 00 05 00 24 00 81 08 20 FF FF FF FF FF FF FF", false, std::nullopt,
                  0, 0},
        ParseCase{"TwoTimersBadLength",
                  "6D 80 02 1E 00 52 10 C1 00 05 00 20 00 81 08 20 FF FF FF FF FF FF FF", false,
                  std::nullopt, 0, 0}),
    [](const auto& info) { return info.param.name; });

TEST(PinCommand, CodingsPutTheDigitsInPlace) {
  PinCommand command;
  command.apdu = hex("00 20 00 81 08 AA AA AA AA AA AA AA AA");
  const std::vector<Bytes> pins{{1, 2, 3, 4, 5}};
  command.maxDigits = 8;
  command.coding = PinCoding::kBcd;
  EXPECT_EQ(buildPinApdu(command, pins), hex("00 20 00 81 08 12 34 5F FF AA AA AA AA"));
  command.coding = PinCoding::kAscii;
  EXPECT_EQ(buildPinApdu(command, pins), hex("00 20 00 81 08 31 32 33 34 35 AA AA AA"));
  command.coding = PinCoding::kFormat2;
  EXPECT_EQ(buildPinApdu(command, pins), hex("00 20 00 81 08 25 12 34 5F FF FF FF FF"));
}

class PinEntry : public FirmwareTest {
 protected:
  void insertPinCard(AtrProtocols protocols) {
    card = std::make_shared<Card>(makePinCard(kBlock1234, protocols));
    firmware.insertCard(card);
    powerOn();
    if (protocols == AtrProtocols::kT1) {
      const Bytes select = hex(kSelectPin);
      Bytes frame{0x67};
      const Bytes block = t1::encode(0, 0x00, select);
      frame.insert(frame.end(), block.begin(), block.end());
      ASSERT_EQ(firmware.execute(frame), hex("64 00 00 02 90 00 92"));
    } else {
      ASSERT_EQ(run("67 " + kSelectPin), hex("64 90 00"));
    }
  }

  void type(std::string_view keys) {
    for (const char c : keys) {
      if (c == 'E') {
        firmware.pressKey(KeypadKey::kEnter);
      } else if (c == 'C') {
        firmware.pressKey(KeypadKey::kCancel);
      } else if (c == 'B') {
        firmware.pressKey(KeypadKey::kClear);
      } else {
        firmware.pressKey(digitKey(static_cast<std::uint8_t>(c - '0')));
      }
    }
  }

  static Bytes answerBlock(std::uint8_t pcb, std::string_view inf) {
    Bytes answer{0x64};
    const Bytes block = t1::encode(0, pcb, hex(inf));
    answer.insert(answer.end(), block.begin(), block.end());
    return answer;
  }

  std::shared_ptr<Card> card;
};

TEST_F(PinEntry, RightPinOnAT0Card) {
  insertPinCard(AtrProtocols::kT0);
  EXPECT_TRUE(run(verify()).empty());
  EXPECT_TRUE(firmware.pinEntryRunning());
  type("12");
  type("9B");  // a digit taken back
  type("E");   // too short: ignored
  type("34E");
  EXPECT_EQ(late, (std::vector<Bytes>{hex("64 90 00")}));
  EXPECT_FALSE(firmware.pinEntryRunning());
  EXPECT_FALSE(firmware.pressKey(KeypadKey::k1));
}

TEST_F(PinEntry, WrongPinGivesTheCardsStatusBytes) {
  insertPinCard(AtrProtocols::kT0);
  run(verify());
  type("1235E");
  run(verify());
  type("9999E");
  EXPECT_EQ(late, (std::vector<Bytes>{hex("64 63 C2"), hex("64 63 C1")}));
}

TEST_F(PinEntry, T1CardAnswersWithItsBlock) {
  insertPinCard(AtrProtocols::kT1);
  // The host's sequence byte 0x40 becomes the I-block's N(S).
  run(verify("40"));
  type("1234E");
  EXPECT_EQ(late, (std::vector<Bytes>{answerBlock(0x40, "90 00")}));
}

TEST_F(PinEntry, WithoutASequenceByteTheTerminalFollowsTheHostsBlocks) {
  insertPinCard(AtrProtocols::kT1);
  // A display text first: the host inserted no sequence byte. The host's
  // last I-block had N(S) 0, so the terminal sends N(S) 1.
  run("6D 50 02 41 42 52 0F C1 05 00 20 00 81 08 20 FF FF FF FF FF FF FF");
  type("1234E");
  EXPECT_EQ(late, (std::vector<Bytes>{answerBlock(0x40, "90 00")}));
}

TEST_F(PinEntry, T1CardTakingLongIsGrantedItsExtensions) {
  insertPinCard(AtrProtocols::kT1);
  firmware.slot().contacts()->t1Transport().takeLong(2, 5);
  run(verify("40"));
  type("1234E");
  EXPECT_EQ(late, (std::vector<Bytes>{answerBlock(0x40, "90 00")}));
}

TEST_F(PinEntry, CancelAndTimeOutAreTheTerminalsAnswers) {
  insertPinCard(AtrProtocols::kT0);
  run(verify());
  type("12C");
  // Default 15 s for each PIN.
  run(verify());
  type("123");
  timeline.runFor(seconds(15));
  // A timer object of 30 s.
  run("6D 80 01 1E 52 10 C1 00 05 00 20 00 81 08 20 FF FF FF FF FF FF FF");
  timeline.runFor(seconds(29));
  type("1234E");
  EXPECT_EQ(late, (std::vector<Bytes>{hex("64 64 01"), hex("64 64 00"), hex("64 90 00")}));
}

TEST_F(PinEntry, BadCommandObjectIsRefusedAtOnceAndBusyMeanwhile) {
  insertPinCard(AtrProtocols::kT0);
  EXPECT_EQ(run("6D 52 10 C5 00 05 00 20 00 81 08 20 FF FF FF FF FF FF FF"), hex("64 64 02"));
  run(verify());
  EXPECT_EQ(run("65"), hex("67"));
  EXPECT_EQ(run(verify()), hex("67"));
  firmware.pullCard();
  EXPECT_EQ(late, (std::vector<Bytes>{hex("67")}));
  EXPECT_FALSE(firmware.pinEntryRunning());
}

TEST_F(PinEntry, ModifyAsksThreeTimesEachWithItsOwnTime) {
  insertPinCard(AtrProtocols::kT0);
  run(kModify);
  timeline.runFor(seconds(14));
  type("1234E");
  timeline.runFor(seconds(14));
  type("5678E");
  timeline.runFor(seconds(14));
  type("5678E");
  EXPECT_EQ(late, (std::vector<Bytes>{hex("64 90 00")}));
  // The new PIN counts now; a confirmation that differs goes nowhere.
  run(kModify);
  type("5678E1111E2222E");
  EXPECT_EQ(late.back(), hex("64 64 02"));
  run(verify());
  type("5678E");
  EXPECT_EQ(late.back(), hex("64 90 00"));
}

TEST(PinEntryOnTheKeyboard, TypedKeysGoToTheTerminalNotToTheHost) {
  QueueTimeline timeline;
  K52Firmware firmware(timeline);
  KeyboardWiring wiring(timeline, firmware);
  firmware.attachKeypad(wiring.keyboard());
  Bytes received;
  wiring.onIrq1([&] { received.push_back(wiring.readPort(Controller8042::kDataPort)); });
  const auto write = [&](const Bytes& command) {
    Bytes codes;
    const auto nibbles = [&](std::uint8_t b) {
      codes.push_back(static_cast<std::uint8_t>(0xB0 | b >> 4));
      codes.push_back(static_cast<std::uint8_t>(0xB0 | (b & 0x0F)));
    };
    nibbles(static_cast<std::uint8_t>(command.size() >> 8));
    nibbles(static_cast<std::uint8_t>(command.size()));
    for (const auto b : command) nibbles(b);
    for (const auto code : codes) {
      while (wiring.readPort(Controller8042::kCommandPort) & Controller8042::kStatusInputFull) {
        timeline.runFor(std::chrono::microseconds(100));
      }
      wiring.writePort(Controller8042::kDataPort, code);
    }
  };

  firmware.insertCard(std::make_shared<Card>(makePinCard(kBlock1234, AtrProtocols::kT0)));
  write(hex("62"));
  write(hex("67 " + kSelectPin));
  timeline.runUntilIdle();
  received.clear();

  write(hex(verify()));
  // Not until idle: that would run into the entry's time-out.
  timeline.runFor(std::chrono::seconds(1));
  ASSERT_TRUE(firmware.pinEntryRunning());
  received.clear();
  // Top-row 1 2, keypad 3 4, keypad Enter (E0 1C).
  const Bytes keys{0x02, 0x03, 0x51, 0x4B, 0xE0, 0x1C};
  wiring.keyboard().type(keys);
  timeline.runFor(std::chrono::seconds(1));
  // Only the answer frame 00 03 64 90 00 comes back, no key code.
  EXPECT_EQ(received, hex("64 7F 10 10 10 13 16 14 19 10 10 10"));

  received.clear();
  wiring.keyboard().type(Bytes{0x02});
  timeline.runUntilIdle();
  EXPECT_EQ(received, hex("02 82"));
}

}  // namespace
}  // namespace k52::sim

#include "sim/k52fw/k52_firmware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "sim/k52fw/firmware_fixture.h"

namespace k52::sim {
namespace {

enum class Slot { kEmpty, kUnpowered, kPoweredBoth, kPoweredT1 };

struct CommandCase {
  const char* name;
  Slot slot;
  const char* command;
  const char* answer;  // "" for no answer
};

class Commands : public FirmwareTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(Commands, AreAnswered) {
  const CommandCase& c = GetParam();
  if (c.slot != Slot::kEmpty) {
    insertPurse(c.slot == Slot::kPoweredT1 ? AtrProtocols::kT1 : AtrProtocols::kT0AndT1);
  }
  if (c.slot == Slot::kPoweredBoth || c.slot == Slot::kPoweredT1) {
    ASSERT_EQ(powerOn()[0], 0x64);
  }
  EXPECT_EQ(run(c.command), hex(c.answer));
}

const std::string kBothAtr = "3B 87 80 31 FE 45 80 31 C0 73 80 01 00 0E";

INSTANTIATE_TEST_SUITE_P(
    K52Firmware, Commands,
    ::testing::Values(
        CommandCase{"Check", Slot::kEmpty, "60", "64"},
        CommandCase{"CheckWithParameter", Slot::kEmpty, "60 00", "67"},
        CommandCase{"SetMode", Slot::kEmpty, "61 10 00 00 4D 10", "64"},
        CommandCase{"SetModeShort", Slot::kEmpty, "61 10 00 00 4D", "67"},
        CommandCase{"SetModeLong", Slot::kEmpty, "61 10 00 00 4D 10 00", "67"},
        CommandCase{"PowerOnNoCard", Slot::kEmpty, "62", "67"},
        CommandCase{"PowerOnCold", Slot::kUnpowered, "62",
                    "64 3B 87 80 31 FE 45 80 31 C0 73 80 01 00 0E"},
        CommandCase{"WarmResetPowered", Slot::kPoweredBoth, "64",
                    "64 3B 87 80 31 FE 45 80 31 C0 73 80 01 00 0E"},
        CommandCase{"WarmResetUnpowered", Slot::kUnpowered, "64",
                    "64 3B 87 80 31 FE 45 80 31 C0 73 80 01 00 0E"},
        CommandCase{"WarmResetNoCard", Slot::kEmpty, "64", "67"},
        CommandCase{"PowerOff", Slot::kPoweredBoth, "63", "64"},
        CommandCase{"PowerOffNoCard", Slot::kEmpty, "63", "64"},
        CommandCase{"StatusNoCard", Slot::kEmpty, "65", "64 00 00 00 00"},
        CommandCase{"StatusUnpowered", Slot::kUnpowered, "65", "64 08 00 00 01"},
        CommandCase{"StatusPoweredT0", Slot::kPoweredBoth, "65", "64 19 00 00 03"},
        CommandCase{"StatusPoweredT1", Slot::kPoweredT1, "65", "64 1A 01 00 03"},
        CommandCase{"StatusWithParameter", Slot::kPoweredBoth, "65 00", "67"},
        CommandCase{"ExchangeNoCard", Slot::kEmpty, "67 00 B2 01 C4 00", "67"},
        CommandCase{"ExchangeUnpowered", Slot::kUnpowered, "67 00 B2 01 C4 00", "67"},
        CommandCase{"ExchangeNothing", Slot::kPoweredBoth, "67", "67"},
        CommandCase{"RetryWithoutCommand", Slot::kPoweredBoth, "68", "67"},
        CommandCase{"Removed", Slot::kPoweredBoth, "6A", "64"},
        CommandCase{"VerifyNoCard", Slot::kEmpty, "6D 52 08 21 05 00 20 00 81 02 FF", "67"},
        CommandCase{"Unknown66", Slot::kPoweredBoth, "66", "67"},
        CommandCase{"Unknown6B", Slot::kPoweredBoth, "6B", "67"},
        CommandCase{"BelowRange", Slot::kPoweredBoth, "5F", "67"},
        CommandCase{"AboveRange", Slot::kPoweredBoth, "6F", "67"},
        CommandCase{"ApduInsteadOfCommand", Slot::kPoweredBoth, "00 B2 01 C4 00", "67"},
        CommandCase{"KeepWaitingString", Slot::kPoweredBoth, "", ""}),
    [](const auto& info) { return info.param.name; });

TEST_F(FirmwareTest, CapabilitiesReadAsTheHostReadsThem) {
  const Bytes answer = run("69");
  // As the host sees the frame: two length bytes in front.
  Bytes frame{static_cast<std::uint8_t>(answer.size() >> 8),
              static_cast<std::uint8_t>(answer.size())};
  frame.insert(frame.end(), answer.begin(), answer.end());
  ASSERT_GE(frame.size(), 5u);
  EXPECT_EQ(frame[2], 0x68);
  EXPECT_EQ(frame[3], 0x60);
  const std::size_t n = frame[4];
  EXPECT_EQ(n, frame.size());

  std::string vendor, type;
  Bytes readerType, protocols, ifsd;
  for (std::size_t offset = 0; 5 + offset < n; offset += frame[5 + offset + 1] + 2u) {
    const std::uint8_t tag = frame[5 + offset];
    const std::uint8_t length = frame[5 + offset + 1];
    ASSERT_LE(5 + offset + 2 + length, frame.size());
    const auto value = std::span(frame).subspan(5 + offset + 2, length);
    if (tag == 0x00) vendor.assign(value.begin(), value.end());
    if (tag == 0x01) type.assign(value.begin(), value.end());
    if (tag == 0x10) readerType.assign(value.begin(), value.end());
    if (tag == 0x20) protocols.assign(value.begin(), value.end());
    if (tag == 0x25) ifsd.assign(value.begin(), value.end());
  }
  EXPECT_EQ(vendor, "Varnel GmbH");
  ASSERT_FALSE(type.empty());
  EXPECT_EQ(type.back(), 'B');
  EXPECT_EQ(readerType, hex("00 04 00 00"));  // 0x00000400: keyboard
  EXPECT_EQ(protocols, hex("03 00 00 00"));
  EXPECT_EQ(ifsd, hex("FE 00"));

  const Bytes serial = capabilityAnswer(serialTerminalIdentity());
  EXPECT_NE(std::ranges::search(serial, hex("10 04 00 01 00 01")).begin(), serial.end());
}

TEST_F(FirmwareTest, SlotTakesAndLosesCardsAtAnyTime) {
  auto card = insertPurse();
  EXPECT_EQ(run("65"), hex("64 08 00 00 01"));
  powerOn();
  EXPECT_TRUE(card->powered());
  firmware.pullCard();
  EXPECT_FALSE(card->powered());
  EXPECT_EQ(run("65"), hex("64 00 00 00 00"));
  EXPECT_EQ(run("67 00 B2 01 C4 00"), hex("67"));
  // A card goes in unpowered, even one that was powered elsewhere.
  card->powerOn();
  firmware.insertCard(card);
  EXPECT_EQ(run("65"), hex("64 08 00 00 01"));
}

TEST_F(FirmwareTest, ResetBringsBackTheDefaultModeOfTheCardsProtocol) {
  insertPurse(AtrProtocols::kT1);
  run("61 00 00 0A 00 10");
  EXPECT_FALSE(firmware.t1Mode());
  powerOn();
  EXPECT_TRUE(firmware.t1Mode());
  EXPECT_EQ(firmware.mode()[2], 10);
  EXPECT_EQ(firmware.workWaitingTime(), std::chrono::microseconds(714240));
}

TEST_F(FirmwareTest, RemovalNoticePowersTheCardDown) {
  auto card = insertPurse();
  powerOn();
  EXPECT_EQ(run("6A"), hex("64"));
  EXPECT_FALSE(card->powered());
  EXPECT_EQ(run("65"), hex("64 08 00 00 01"));
}

}  // namespace
}  // namespace k52::sim

// T=1 through the terminal: a PTS, then blocks passed to the card with
// 0x67, or 0x6C while a waiting-time extension holds.
#include <gtest/gtest.h>

#include <string>

#include "sim/card/t1_block.h"
#include "sim/k52fw/firmware_fixture.h"

namespace k52::sim {
namespace {

const Bytes kSelect = hex("00 A4 04 0C 09 D2 76 00 00 25 45 50 01 00");
const Bytes kRead = hex("00 B2 01 C4 00");

Bytes command(std::uint8_t code, const Bytes& block) {
  Bytes c{code};
  c.insert(c.end(), block.begin(), block.end());
  return c;
}

Bytes answer(const Bytes& block) {
  return command(0x64, block);
}

class T1Path : public FirmwareTest {
 protected:
  // What the host does for a card offering both protocols: mode T=1, PTS,
  // mode T=1 again.
  void SetUp() override {
    insertPurse();
    powerOn();
    ASSERT_EQ(run("61 10 00 00 45 10"), hex("64"));
    ASSERT_EQ(run("67 FF 11 11 FF"), hex("64 FF 11 11 FF"));
    ASSERT_EQ(run("61 10 00 00 45 10"), hex("64"));
  }

  Bytes send(std::uint8_t pcb, const Bytes& inf = {}, std::uint8_t code = 0x67) {
    return firmware.execute(command(code, t1::encode(0, pcb, inf)));
  }
};

TEST_F(T1Path, PtsMakesTheCardSpecific) {
  EXPECT_EQ(run("65"), hex("64 1A 01 00 04"));
  // A second PTS finds the card past negotiation.
  EXPECT_EQ(run("67 FF 10 11 FE"), hex("67"));
}

TEST_F(T1Path, BlocksGoThroughBothWaysWithChaining) {
  EXPECT_EQ(send(0x00, kSelect), answer(t1::encode(0, 0x00, hex("90 00"))));
  EXPECT_EQ(send(0xC1, {5}), answer(t1::encode(0, 0xE1, Bytes{5})));
  EXPECT_EQ(send(0x40, kRead), answer(t1::encode(0, 0x60, hex("00 12 34 02 00"))));
  EXPECT_EQ(send(0x80), answer(t1::encode(0, 0x20, hex("00 00 50 00 90"))));
  EXPECT_EQ(send(0x90), answer(t1::encode(0, 0x40, hex("00"))));
  // A chained command.
  EXPECT_EQ(send(0x20, hex("00 B2")), answer(t1::encode(0, 0x90)));
  EXPECT_EQ(send(0x40, hex("01 C4 00")), answer(t1::encode(0, 0x20, hex("00 12 34 02 00"))));
}

TEST_F(T1Path, WaitingTimeExtensionRequestsReachTheHost) {
  firmware.slot().contacts()->t1Transport().takeLong(1, 3);
  EXPECT_EQ(send(0x00, kSelect), answer(t1::encode(0, 0xC3, Bytes{3})));
  EXPECT_EQ(send(0xE3, {3}, 0x6C), answer(t1::encode(0, 0x00, hex("90 00"))));
}

TEST_F(T1Path, BadLrcGetsTheCardsRBlock) {
  Bytes block = t1::encode(0, 0x00, kSelect);
  block.back() ^= 0xFF;
  EXPECT_EQ(firmware.execute(command(0x67, block)), answer(t1::encode(0, 0x81)));
  EXPECT_EQ(send(0x00, kSelect), answer(t1::encode(0, 0x00, hex("90 00"))));
}

TEST_F(FirmwareTest, AModeTheCardDoesNotRunGetsNoAnswerFromIt) {
  insertPurse();
  powerOn();
  // The card runs T=0 until a PTS says otherwise.
  run("61 10 00 00 45 10");
  EXPECT_EQ(firmware.execute(command(0x67, t1::encode(0, 0x00, kRead))), hex("67"));
  // A PTS for a protocol the card does not offer is not answered.
  insertPurse(AtrProtocols::kT0);
  powerOn();
  EXPECT_EQ(run("67 FF 11 11 FF"), hex("67"));
}

}  // namespace
}  // namespace k52::sim

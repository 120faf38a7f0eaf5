#include "sim/card/t1_transport.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/card/purse.h"
#include "sim/card/t1_block.h"
#include "sim/card/test_hex.h"

namespace k52::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kSelectPurse = testhex::bytes("00 A4 04 0C 09 D2 76 00 00 25 45 50 01 00");
const Bytes kReadAmounts = testhex::bytes("00 B2 01 C4 00");
const Bytes kAmounts = testhex::bytes("00 12 34 02 00 00 00 50 00 90 00");

class T1TransportTest : public ::testing::Test {
 protected:
  T1TransportTest() { card.powerOn(); }

  Bytes send(std::uint8_t pcb, const Bytes& inf = {}) {
    return t1.receive(t1::encode(0, pcb, inf));
  }
  static Bytes block(std::uint8_t pcb, const Bytes& inf = {}) { return t1::encode(0, pcb, inf); }

  Card card = makePurseCard(PurseConfig{1234, 20000, 5000}, AtrProtocols::kT1);
  T1Transport t1{card, 254};
};

TEST_F(T1TransportTest, AnswersIBlocksAndTogglesSequenceNumbers) {
  EXPECT_EQ(send(0x00, kSelectPurse), block(0x00, testhex::bytes("90 00")));
  EXPECT_EQ(send(0x40, kReadAmounts), block(0x40, kAmounts));
  EXPECT_EQ(send(0x00, kReadAmounts), block(0x00, kAmounts));
}

TEST_F(T1TransportTest, ReceivesAChainedCommand) {
  const Bytes first(kSelectPurse.begin(), kSelectPurse.begin() + 6);
  const Bytes rest(kSelectPurse.begin() + 6, kSelectPurse.end());
  EXPECT_EQ(send(0x20, first), block(0x90));  // R(N(R)=1): next please
  EXPECT_EQ(send(0x40, rest), block(0x00, testhex::bytes("90 00")));
}

TEST_F(T1TransportTest, ChainsAResponseLongerThanIfsd) {
  send(0x00, kSelectPurse);
  EXPECT_EQ(send(0xC1, {4}), block(0xE1, {4}));  // S(IFS request) -> response
  EXPECT_EQ(send(0x40, kReadAmounts), block(0x60, testhex::bytes("00 12 34 02")));
  // An R-block naming the block just received asks for it again.
  EXPECT_EQ(send(0x90), block(0x60, testhex::bytes("00 12 34 02")));
  EXPECT_EQ(send(0x80), block(0x20, testhex::bytes("00 00 00 50")));
  EXPECT_EQ(send(0x90), block(0x40, testhex::bytes("00 90 00")));
}

TEST_F(T1TransportTest, AsksForWaitingTimeWhenTakingLong) {
  t1.takeLong(2, 3);
  EXPECT_EQ(send(0x00, kSelectPurse), block(0xC3, {3}));
  EXPECT_EQ(send(0xE3, {3}), block(0xC3, {3}));
  EXPECT_EQ(send(0xE3, {3}), block(0x00, testhex::bytes("90 00")));
  // A WTX response nobody asked for is an error.
  EXPECT_EQ(send(0xE3, {1}), block(0x92));
}

TEST_F(T1TransportTest, BadBlocksGetAnRBlockAndTheExchangeGoesOn) {
  Bytes bad = block(0x00, kSelectPurse);
  bad.back() ^= 0x01;
  EXPECT_EQ(t1.receive(bad), block(0x81));                               // EDC error
  EXPECT_EQ(t1.receive(testhex::bytes("00 00 05 01 02")), block(0x82));  // LEN lies
  EXPECT_EQ(send(0x40, kSelectPurse), block(0x82));                      // wrong N(S)
  EXPECT_EQ(send(0x00, kSelectPurse), block(0x00, testhex::bytes("90 00")));
  // The answer got lost: an R-block fetches it again.
  EXPECT_EQ(send(0x80), block(0x00, testhex::bytes("90 00")));
}

TEST_F(T1TransportTest, ResynchAndAbortStartOver) {
  send(0x00, kSelectPurse);
  EXPECT_EQ(send(0xC0), block(0xE0));
  EXPECT_EQ(send(0x00, kReadAmounts), block(0x00, kAmounts));
  EXPECT_EQ(send(0x60, kSelectPurse), block(0x80));  // chaining begun
  EXPECT_EQ(send(0xC2), block(0xE2));
  EXPECT_EQ(send(0xC1, {0}), block(0x82));  // IFS 0 is not allowed
}

TEST_F(T1TransportTest, SwapsTheNodeAddressesAndIsMuteUnpowered) {
  EXPECT_EQ(t1.receive(t1::encode(0x12, 0x00, kSelectPurse)),
            t1::encode(0x21, 0x00, testhex::bytes("90 00")));
  card.powerOff();
  EXPECT_TRUE(send(0x40, kSelectPurse).empty());
}

}  // namespace
}  // namespace k52::sim

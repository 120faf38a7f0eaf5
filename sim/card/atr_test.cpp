#include "sim/card/atr.h"

#include <gtest/gtest.h>

#include "sim/card/test_hex.h"

namespace k52::sim {
namespace {

struct ReadyCase {
  AtrProtocols protocols;
  const char* bytes;  // TCK worked out by hand, not by the code under test
  bool t0;
  bool t1;
};

class ReadyAtrs : public ::testing::TestWithParam<ReadyCase> {};

TEST_P(ReadyAtrs, AreWellFormedAndOfferTheirProtocols) {
  const auto atr = readyAtr(GetParam().protocols);
  EXPECT_EQ(atr, testhex::bytes(GetParam().bytes));
  const auto info = parseAtr(atr);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->t0, GetParam().t0);
  EXPECT_EQ(info->t1, GetParam().t1);
  EXPECT_EQ(info->historical.size(), 7u);
}

INSTANTIATE_TEST_SUITE_P(
    Atr, ReadyAtrs,
    ::testing::Values(ReadyCase{AtrProtocols::kT0, "3B 07 80 31 C0 73 80 01 00", true, false},
                      ReadyCase{AtrProtocols::kT1, "3B 87 81 31 FE 45 80 31 C0 73 80 01 00 0F",
                                false, true},
                      ReadyCase{AtrProtocols::kT0AndT1, "3B 87 80 31 FE 45 80 31 C0 73 80 01 00 0E",
                                true, true}));

class MalformedAtrs : public ::testing::TestWithParam<const char*> {};

TEST_P(MalformedAtrs, AreRejected) {
  EXPECT_FALSE(parseAtr(testhex::bytes(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(
    Atr, MalformedAtrs,
    ::testing::Values("3B 87 81 31 FE 45 80 31 C0 73 80 01 00 0E",  // TCK off by one bit
                      "3B 87 81 31 FE 45 80 31 C0 73 80 01 00",     // T=1 without TCK
                      "3B 07 80 31 C0 73 80 01 00 00",              // T=0 with a stray byte
                      "3B 07 80 31 C0 73 80 01",                    // historical bytes cut
                      "3B 90 11",                                   // TD1 announced, missing
                      "3C 00",                                      // unknown convention
                      "3B",                                         // no T0
                      "3B 0F 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                      "F0 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"));  // 34 bytes

TEST(Atr, GlobalT15DoesNotCountAsAProtocolOffer) {
  // TD1 = 0x0F: only global bytes, so T=0 stays implied; T=15 still needs TCK.
  const auto info = parseAtr(testhex::bytes("3B 80 0F 8F"));
  ASSERT_TRUE(info);
  EXPECT_TRUE(info->t0);
  EXPECT_FALSE(info->t1);
}

}  // namespace
}  // namespace k52::sim

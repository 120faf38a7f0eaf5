#include "sim/card/apdu.h"

#include <gtest/gtest.h>

#include "sim/card/test_hex.h"

namespace k52::sim {
namespace {

struct ParseCase {
  const char* name;
  const char* apdu;
  std::size_t dataSize;
  std::size_t ne;
};

class ParsesEveryLengthEncoding : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParsesEveryLengthEncoding, SplitsBodyAndLe) {
  const auto bytes = testhex::bytes(GetParam().apdu);
  const auto apdu = parseCommandApdu(bytes);
  ASSERT_TRUE(apdu);
  EXPECT_EQ(apdu->cla, bytes[0]);
  EXPECT_EQ(apdu->p2, bytes[3]);
  EXPECT_EQ(apdu->data.size(), GetParam().dataSize);
  EXPECT_EQ(apdu->ne, GetParam().ne);
  if (!apdu->data.empty()) {
    EXPECT_EQ(apdu->data.back(), 0xEE) << "data must end at its Lc";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Apdu, ParsesEveryLengthEncoding,
    ::testing::Values(ParseCase{"case1", "00 A4 04 0C", 0, 0},
                      ParseCase{"case2Short", "00 B2 01 C4 09", 0, 9},
                      ParseCase{"case2ShortMax", "00 B2 01 C4 00", 0, 256},
                      ParseCase{"case3Short", "00 A4 04 0C 02 D2 EE", 2, 0},
                      ParseCase{"case4Short", "00 A4 04 00 02 D2 EE 00", 2, 256},
                      ParseCase{"case2Extended", "00 B0 00 00 00 01 00", 0, 256},
                      ParseCase{"case2ExtendedMax", "00 B0 00 00 00 00 00", 0, 65536},
                      ParseCase{"case3Extended", "00 D6 00 00 00 00 02 11 EE", 2, 0},
                      ParseCase{"case4Extended", "00 D6 00 00 00 00 01 EE 00 10", 1, 16}),
    [](const auto& info) { return info.param.name; });

class RejectsInconsistentLengths : public ::testing::TestWithParam<const char*> {};

TEST_P(RejectsInconsistentLengths, NoApdu) {
  EXPECT_FALSE(parseCommandApdu(testhex::bytes(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(Apdu, RejectsInconsistentLengths,
                         ::testing::Values("00 A4 04",                    // header cut short
                                           "00 A4 04 0C 03 D2 76",        // Lc beyond the end
                                           "00 A4 04 0C 01 D2 76 00 00",  // bytes after Le
                                           "00 B0 00 00 00 01",           // truncated ext. Le
                                           "00 D6 00 00 00 00 00 11",     // extended Lc of 0
                                           "00 D6 00 00 00 00 02 11"));   // ext. data cut short

}  // namespace
}  // namespace k52::sim

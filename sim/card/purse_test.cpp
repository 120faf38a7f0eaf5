#include "sim/card/purse.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace k52::sim {
namespace {

struct BcdCase {
  std::uint32_t cents;
  std::array<std::uint8_t, 3> bcd;
};

class PackedBcd : public ::testing::TestWithParam<BcdCase> {};

TEST_P(PackedBcd, PutsTwoDigitsPerByteMostSignificantFirst) {
  EXPECT_EQ(packedBcd(GetParam().cents), GetParam().bcd);
}

INSTANTIATE_TEST_SUITE_P(Purse, PackedBcd,
                         ::testing::Values(BcdCase{0, {0x00, 0x00, 0x00}},
                                           BcdCase{1234, {0x00, 0x12, 0x34}},
                                           BcdCase{100, {0x00, 0x01, 0x00}},
                                           BcdCase{907050, {0x90, 0x70, 0x50}},
                                           BcdCase{999999, {0x99, 0x99, 0x99}}));

TEST(Purse, AmountsBeyondSixDigitsAreRefused) {
  EXPECT_THROW(packedBcd(1000000), std::out_of_range);
  EXPECT_THROW(makePurseCard(PurseConfig{1000000}), std::out_of_range);
  EXPECT_THROW(makePurseCard(PurseConfig{0, 20000, 1000000}), std::out_of_range);
}

}  // namespace
}  // namespace k52::sim

#include "ctapi/pcsc/atr.h"

#include <gtest/gtest.h>

#include <vector>

namespace k52::ctbridge {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(HistoricalBytes, FollowTheInterfaceBytesThatT0AndTdAnnounce) {
  const struct {
    Bytes atr;
    Bytes historical;
  } cases[] = {
      // T0 = 0x15: TA1, five historical bytes.
      {{0x3B, 0x15, 0x96, 'H', 'e', 'l', 'l', 'o'}, {'H', 'e', 'l', 'l', 'o'}},
      // TD1 -> TD2 -> TA3 (T=1 card), two historical bytes and TCK.
      {{0x3B, 0x82, 0x81, 0x31, 0xFE, 0x45, 0xAA, 0xBB, 0x98}, {0xAA, 0xBB}},
      // No interface bytes at all.
      {{0x3B, 0x02, 0x14, 0x50}, {0x14, 0x50}},
      // Announced but missing: what is there.
      {{0x3B, 0x05, 0x01, 0x02}, {0x01, 0x02}},
      // TD1 announces more than the ATR holds.
      {{0x3B, 0x83, 0x80}, {}},
      {{0x3B}, {}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    const auto got = historicalBytes(c.atr);
    EXPECT_EQ(Bytes(got.begin(), got.end()), c.historical);
  }
}

}  // namespace
}  // namespace k52::ctbridge

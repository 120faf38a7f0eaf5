#include "chiphost/core/cdes.h"

#include <gtest/gtest.h>

#include <vector>

namespace k52::chiphost {
namespace {

using Bytes = std::vector<std::uint8_t>;

Cdes8Key keyFrom(std::uint8_t first) {
  Cdes8Key key;
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(first + i);
  return key;
}

// Values worked out by hand-following the round description (round function,
// mixing step, half exchange) for each cipher.
TEST(Cdes4, KnownAnswersAndInvolution) {
  struct Case {
    Bytes plain;
    std::uint32_t key;
    Bytes cipher;
  };
  const Case cases[] = {
      {{0x00, 0x00, 0x00, 0x00}, 0x00000000, {0x20, 0x02, 0x20, 0x76}},
      {{0x01, 0x02, 0x03, 0x04}, 0x78563412, {0xB3, 0xAF, 0xB1, 0xC8}},
      {{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF, {0xDF, 0xFD, 0xDF, 0x89}},
  };
  for (const Case& c : cases) {
    Bytes b = c.plain;
    Cdes4(b, c.key);
    EXPECT_EQ(b, c.cipher);
    Cdes4(b, c.key);
    EXPECT_EQ(b, c.plain);
  }
}

TEST(Cdes8, KnownAnswersAndInvolution) {
  struct Case {
    Bytes plain;
    Cdes8Key key;
    Bytes cipher;
  };
  const Case cases[] = {
      {Bytes(8, 0x00), Cdes8Key{}, {0x24, 0xB1, 0xDF, 0xCC, 0x1A, 0x4B, 0xF3, 0xF2}},
      {{0, 1, 2, 3, 4, 5, 6, 7}, keyFrom(0x00), {0x83, 0x22, 0xDC, 0x56, 0xED, 0xA4, 0x50, 0x17}},
      {{'K', '5', '2', '-', '3', '1', '0', '0'},
       keyFrom(0xF0),
       {0x8C, 0x4F, 0x3B, 0x3C, 0xC2, 0x34, 0x9A, 0x2A}},
  };
  for (const Case& c : cases) {
    Bytes b = c.plain;
    Cdes8(b, c.key);
    EXPECT_EQ(b, c.cipher);
    Cdes8(b, c.key);
    EXPECT_EQ(b, c.plain);
  }
}

TEST(Cdes, EveryBlockOfABufferInOrder) {
  Bytes two = {0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7};
  Cdes8(two, keyFrom(0x00));
  const Bytes block = {0x83, 0x22, 0xDC, 0x56, 0xED, 0xA4, 0x50, 0x17};
  EXPECT_EQ(Bytes(two.begin(), two.begin() + 8), block);
  EXPECT_EQ(Bytes(two.begin() + 8, two.end()), block);
}

TEST(Cdes, PaddedFormFillsTheLastBlock) {
  Bytes five = {1, 2, 3, 4, 5};
  Cdes4Padded(five, 0x12345678);
  ASSERT_EQ(five.size(), 8u);
  Cdes4(five, 0x12345678);
  EXPECT_EQ(five, (Bytes{1, 2, 3, 4, 5, 0x80, 0x00, 0x00}));

  Bytes four = {1, 2, 3, 4};
  Cdes4Padded(four, 0x12345678);
  EXPECT_EQ(four.size(), 4u);

  Bytes eight(8, 0x11);
  Cdes8Padded(eight, keyFrom(1));
  EXPECT_EQ(eight.size(), 8u);

  Bytes nine(9, 0x11);
  padBlocks(nine, 8);
  EXPECT_EQ(nine,
            (Bytes{0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x80, 0, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace k52::chiphost

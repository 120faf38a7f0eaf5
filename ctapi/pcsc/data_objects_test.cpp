#include "ctapi/pcsc/data_objects.h"

#include <gtest/gtest.h>

#include <vector>

namespace k52::ctbridge {
namespace {

using Bytes = std::vector<std::uint8_t>;

ObjectVerdict walkAll(const Bytes& field, std::vector<std::pair<int, Bytes>>& seen) {
  return walkDataObjects(field, [&](std::uint8_t tag, std::span<const std::uint8_t> value) {
    seen.emplace_back(tag, Bytes(value.begin(), value.end()));
    return tag == 0x99 ? kNotAllowed : kAccept;
  });
}

TEST(DataObjects, WalksObjectsInOrderAndStopsAtTheFirstFault) {
  const struct {
    Bytes field;
    ObjectVerdict verdict;
    std::size_t visited;
  } cases[] = {
      {{0x50, 0x02, 'h', 'i', 0x80, 0x01, 0x05}, kAccept, 2},
      {{0x50, 0x00}, kAccept, 1},
      {{0x80, 0x02, 0x05}, kWrongLength, 0},        // value runs past the field
      {{0x80, 0x01, 0x05, 0x50}, kWrongLength, 1},  // a tag without a length
      {{0x99, 0x00, 0x50, 0x00}, kNotAllowed, 1},   // the visitor's verdict stops it
  };
  for (const auto& c : cases) {
    std::vector<std::pair<int, Bytes>> seen;
    EXPECT_EQ(walkAll(c.field, seen), c.verdict);
    EXPECT_EQ(seen.size(), c.visited);
  }
}

TEST(DataObjects, LongFieldsAreWalkedToTheEnd) {
  // 100 objects of 3 bytes each: past the range of a one-byte offset.
  Bytes field;
  for (int i = 0; i < 100; ++i)
    field.insert(field.end(), {0x50, 0x01, static_cast<std::uint8_t>(i)});
  std::vector<std::pair<int, Bytes>> seen;
  EXPECT_EQ(walkAll(field, seen), kAccept);
  ASSERT_EQ(seen.size(), 100u);
  EXPECT_EQ(seen.back().second, Bytes{99});
}

}  // namespace
}  // namespace k52::ctbridge

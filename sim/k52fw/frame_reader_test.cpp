#include "sim/k52fw/frame_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace k52::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<SerialFrame> feedAll(FrameReader& reader, const Bytes& bytes) {
  std::vector<SerialFrame> frames;
  for (const auto b : bytes) {
    if (auto frame = reader.feed(b)) frames.push_back(std::move(*frame));
  }
  return frames;
}

TEST(FrameReader, CutsTheStreamAtTheAnnouncedLengths) {
  FrameReader reader;
  const auto frames = feedAll(reader, {0x00, 0x01, 0x65, 0x00, 0x00, 0x00, 0x03, 0x67, 0x01, 0x02});
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].command, Bytes{0x65});
  EXPECT_TRUE(frames[1].command.empty());  // the keep-waiting frame
  EXPECT_EQ(frames[2].command, (Bytes{0x67, 0x01, 0x02}));
  EXPECT_FALSE(reader.midFrame());
}

TEST(FrameReader, OverlongFramesAreSkippedWholeAndResetDropsAPart) {
  FrameReader reader;
  Bytes bytes{0x04, 0x17};  // 1047 bytes
  bytes.resize(2 + 1047, 0xAA);
  bytes.insert(bytes.end(), {0x00, 0x01, 0x60});
  const auto frames = feedAll(reader, bytes);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_TRUE(frames[0].overlong);
  EXPECT_TRUE(frames[0].command.empty());
  EXPECT_EQ(frames[1].command, Bytes{0x60});

  feedAll(reader, {0x00, 0x05, 0x67});
  EXPECT_TRUE(reader.midFrame());
  reader.reset();
  EXPECT_EQ(feedAll(reader, {0x00, 0x01, 0x69})[0].command, Bytes{0x69});
  EXPECT_EQ(serialFrame({0x64, 0x90, 0x00}), (Bytes{0x00, 0x03, 0x64, 0x90, 0x00}));
}

}  // namespace
}  // namespace k52::sim

#include "sim/vpcd/frame.h"

#include <gtest/gtest.h>

namespace k52::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(VpcdFrame, EncodesBigEndianLength) {
  Bytes payload(0x0102, 0xAB);
  const Bytes frame = encodeVpcdFrame(payload);
  ASSERT_EQ(frame.size(), 0x0104u);
  EXPECT_EQ(frame[0], 0x01);
  EXPECT_EQ(frame[1], 0x02);
  EXPECT_EQ(frame.back(), 0xAB);
}

class DecodesAnySplit : public ::testing::TestWithParam<std::size_t> {};

TEST_P(DecodesAnySplit, IntoTheOriginalPayloads) {
  const std::vector<Bytes> payloads{{0x04}, {}, Bytes(300, 0x5A), {0x00, 0xA4, 0x04, 0x0C}};
  Bytes stream;
  for (const auto& p : payloads) {
    const Bytes f = encodeVpcdFrame(p);
    stream.insert(stream.end(), f.begin(), f.end());
  }
  FrameDecoder decoder;
  std::vector<Bytes> decoded;
  const std::size_t chunk = GetParam();
  for (std::size_t at = 0; at < stream.size(); at += chunk) {
    decoder.feed(std::span(stream).subspan(at, std::min(chunk, stream.size() - at)));
    while (auto p = decoder.next()) decoded.push_back(std::move(*p));
  }
  EXPECT_EQ(decoded, payloads);
  EXPECT_FALSE(decoder.next());
}

INSTANTIATE_TEST_SUITE_P(VpcdFrame, DecodesAnySplit, ::testing::Values(1, 2, 3, 7, 301, 4096));

TEST(VpcdFrame, WaitsForTheWholePayload) {
  FrameDecoder decoder;
  decoder.feed(Bytes{0x00, 0x03, 0x01, 0x02});
  EXPECT_FALSE(decoder.next());
  decoder.feed(Bytes{0x03, 0x00});
  EXPECT_EQ(decoder.next(), (Bytes{0x01, 0x02, 0x03}));
  EXPECT_FALSE(decoder.next()) << "half a length prefix is not a frame";
}

}  // namespace
}  // namespace k52::sim

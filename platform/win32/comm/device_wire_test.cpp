// The device socket's bytes.
#include "platform/win32/comm/device_wire.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace k52::win32::devicewire {
namespace {

TEST(DeviceWire, RequestsDecodeWhenCompleteAndLengthsAreBounded) {
  const auto bytes = encodeRequest({4, 32, {0xAA, 0xBB}});
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    EXPECT_FALSE(decodeRequest(std::span(bytes).first(cut))) << cut;
  }
  const auto decoded = decodeRequest(bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->first.code, 4u);
  EXPECT_EQ(decoded->first.outSize, 32u);
  EXPECT_EQ(decoded->first.input, (std::vector<std::uint8_t>{0xAA, 0xBB}));
  EXPECT_EQ(decoded->second, bytes.size());

  std::vector<std::uint8_t> huge = {1, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0x01, 0x00};
  EXPECT_THROW(decodeRequest(huge), std::invalid_argument);
}

TEST(DeviceWire, ARepliesLengthMayNotExceedWhatWasAskedFor) {
  const auto reply = encodeReply({true, {1, 2, 3}});
  std::span<const std::uint8_t, kReplyHeader> header(reply.data(), kReplyHeader);
  EXPECT_EQ(replyOutputLength(header, 3), 3u);
  EXPECT_THROW(replyOutputLength(header, 2), std::invalid_argument);
  std::uint8_t badFlag[kReplyHeader] = {2, 0, 0, 0, 0};
  EXPECT_THROW(replyOutputLength(badFlag, 8), std::invalid_argument);
}

}  // namespace
}  // namespace k52::win32::devicewire

#include "ctapi/pcsc/command.h"

#include <gtest/gtest.h>

#include <vector>

namespace k52::ctbridge {
namespace {

std::vector<std::uint8_t> withBody(std::vector<std::uint8_t> body) {
  std::vector<std::uint8_t> bytes{0x00, 0xB0, 0x00, 0x00};
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

std::vector<std::uint8_t> extended(std::size_t lc, std::size_t trailer) {
  std::vector<std::uint8_t> body{0x00, static_cast<std::uint8_t>(lc >> 8),
                                 static_cast<std::uint8_t>(lc)};
  body.resize(body.size() + lc + trailer, 0xAB);
  return withBody(body);
}

TEST(ClassifyCommand, EveryLengthCaseAndItsDataField) {
  const struct {
    std::vector<std::uint8_t> bytes;
    int lengthCase;
    std::uint16_t lc;
    std::size_t dataOffset;
  } cases[] = {
      {withBody({}), 1, 0, 4},
      {withBody({0x10}), 2, 0, 4},
      {withBody({0x00}), 2, 0, 4},
      {withBody({0x02, 0x11, 0x22}), 3, 2, 5},
      {withBody({0x02, 0x11, 0x22, 0x00}), 4, 2, 5},
      {withBody({0x00, 0x01, 0x00}), 5, 0, 4},
      {extended(300, 0), 6, 300, 7},
      {extended(300, 2), 7, 300, 7},
      {extended(1, 0), 6, 1, 7},
  };
  for (const auto& c : cases) {
    auto cmd = classifyCommand(c.bytes);
    ASSERT_TRUE(cmd) << "size " << c.bytes.size();
    EXPECT_EQ(cmd->lengthCase, c.lengthCase) << "size " << c.bytes.size();
    EXPECT_EQ(cmd->lc, c.lc);
    EXPECT_EQ(cmd->data.data(), c.bytes.data() + c.dataOffset);
    EXPECT_EQ(cmd->data.size(), c.lc);
  }
}

TEST(ClassifyCommand, LengthsThatFitNoCase) {
  const std::vector<std::uint8_t> cases[] = {
      {0x20, 0x12, 0x01},                        // shorter than a header
      withBody({0x03, 0x11}),                    // Lc says more than is there
      withBody({0x01, 0x11, 0x22, 0x33}),        // two bytes too many
      withBody({0x00, 0x00, 0x00, 0x00}),        // extended with Lc 0 and no Le
      withBody({0x00, 0x00, 0x05, 0x01, 0x02}),  // extended Lc longer than its data
      extended(2, 1),                            // extended with a one-byte trailer
  };
  for (const auto& bytes : cases) EXPECT_FALSE(classifyCommand(bytes)) << bytes.size();
}

}  // namespace
}  // namespace k52::ctbridge

#include "platform/text/hex.h"

#include <gtest/gtest.h>

namespace k52::text {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Hex, AcceptsTheUsualSpellings) {
  const Bytes expected{0x00, 0xA4, 0x04, 0x0C};
  for (const char* text :
       {"00A4040C", "00 a4 04 0c", "00:A4:04:0C", " 00A4 040C ", "00,A4\t04 0C"}) {
    EXPECT_EQ(parseHex(text), expected) << text;
  }
  EXPECT_EQ(parseHex(""), Bytes{});
}

TEST(Hex, RejectsWhatIsNotWholeBytes) {
  for (const char* text : {"0", "00A", "0 0", "0x00", "00-A4", "g0", "00\n"}) {
    EXPECT_FALSE(parseHex(text)) << text;
  }
}

TEST(Hex, FormatsUpperCaseWithBlanks) {
  EXPECT_EQ(formatHex(Bytes{0x90, 0x01, 0x0a}), "90 01 0A");
  EXPECT_EQ(formatHex(Bytes{}), "");
}

}  // namespace
}  // namespace k52::text

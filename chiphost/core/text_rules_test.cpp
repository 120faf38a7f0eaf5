#include "chiphost/core/text_rules.h"

#include <gtest/gtest.h>

namespace k52::chiphost {
namespace {

TEST(TextRules, DecimalArguments) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;
  };
  const Case cases[] = {
      {"0", 0},
      {"42", 42},
      {"-17", -17},
      {"--5", -5},
      {"5-", 0},
      {"1-2", 0},
      {"-", 0},
      {"", std::nullopt},
      {"12A", std::nullopt},
      {" 1", std::nullopt},
      {"+3", std::nullopt},
      {"99999999999", 2147483647},
      {"-99999999999", -2147483647 - 1},
  };
  for (const Case& c : cases) EXPECT_EQ(parseDecimal(c.text), c.value) << c.text;
}

TEST(TextRules, HexadecimalArguments) {
  struct Case {
    const char* text;
    std::uint32_t value;
  };
  const Case cases[] = {
      {"1203", 0x1203}, {"1 2 0 3", 0x1203}, {"FF", 0xFF}, {"", 0},
      {"1G", 0},        {"ff", 0},           {"-1", 0},    {"123456789", 0x23456789}};
  for (const Case& c : cases) EXPECT_EQ(parseHexValue(c.text), c.value) << c.text;
}

TEST(TextRules, OutputFormats) {
  EXPECT_EQ(hex4(0), "0000");
  EXPECT_EQ(hex4(0x1A), "001A");
  EXPECT_EQ(hex4(0x12345), "12345");
  const std::uint8_t atr[] = {0x3B, 0x02, 0x14};
  EXPECT_EQ(hexByteText(atr), "3B 02 14 ");
  EXPECT_EQ(hexByteText({}), "");
  EXPECT_EQ(resultCodeOf("1009,Editor"), 0x1009);
  EXPECT_EQ(resultCodeOf("4000"), 0x4000);
}

TEST(TextRules, AnsiUpperCaseAndBlanks) {
  EXPECT_EQ(ansiUpper("sYstem,info"), "SYSTEM,INFO");
  EXPECT_EQ(ansiUpper("\xE4\xF6\xFC\xDF\xF7\xFF"), "\xC4\xD6\xDC\xDF\xF7\x9F");  // äöüß÷ÿ
  EXPECT_EQ(trimBlanks("  a b \t"), "a b");
  EXPECT_EQ(trimBlanks("   "), "");
}

}  // namespace
}  // namespace k52::chiphost

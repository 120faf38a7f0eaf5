#include "chiphost/core/error_texts.h"

#include <gtest/gtest.h>

#include "chiphost/core/ini_text.h"

namespace k52::chiphost {
namespace {

const ErrorTexts& shipped() {
  static const ErrorTexts texts = ErrorTexts::load(K52_CHIPHOST_CORE_DIR);
  return texts;
}

TEST(IniText, ReadsLikeTheProfileFunctions) {
  const IniText ini(
      "; comment\r\n"
      "top=ignored\n"
      "[German]\n"
      " 1008 = Kein Leser \n"
      "1009=\"quoted\"\n"
      "1008=second\n"
      "noequals\n"
      "[ENGLISH\n"
      "1008=unterminated header\n"
      "[german]\n"
      "1200=later section\n");
  EXPECT_EQ(ini.value("GERMAN", "1008"), "Kein Leser");
  EXPECT_EQ(ini.value("german", "1009"), "quoted");
  EXPECT_EQ(ini.value("ENGLISH", "1008"), "unterminated header");
  EXPECT_EQ(ini.value("GERMAN", "1200"), "");
  EXPECT_EQ(ini.value("GERMAN", "top"), "");
  EXPECT_EQ(ini.value("FRENCH", "1008"), "");
}

TEST(ErrorTexts, ShippedFileCoversEveryCodeInBothLanguages) {
  for (const char* language : {"GERMAN", "ENGLISH"}) {
    for (std::uint32_t code :
         {0x1001, 0x1002, 0x1008, 0x1009, 0x1010, 0x1200, 0x1201, 0x1202, 0x1203, 0x1310, 0x1311,
          0x2000, 0x4000, 0x4001, 0x4002, 0x4004, 0x9000, 0x9001, 0x9002})
      EXPECT_FALSE(shipped().text(language, code).empty()) << language << " " << std::hex << code;
  }
  EXPECT_EQ(shipped().text("ENGLISH", 0x9000), "at");
  EXPECT_EQ(shipped().text("GERMAN", 0x9000), "an");
}

TEST(ErrorTexts, PlaceholdersInBothLanguages) {
  EXPECT_EQ(shipped().errText("GERMAN", "1009,Editor"),
            "Die Karte wird von einer anderen Anwendung benutzt: Editor");
  EXPECT_EQ(shipped().errText("ENGLISH", "1009, Editor "),
            "The card is in use by another application: Editor");
  EXPECT_EQ(shipped().errText("ENGLISH", "1311,3"),
            "The PIN has not been verified (retry counter 3).");
  // A missing argument leaves the placeholder as it is.
  EXPECT_EQ(shipped().errText("ENGLISH", "1009"), "The card is in use by another application: #1");
}

TEST(ErrorTexts, PlaceholderRules) {
  const ErrorTexts texts("[X]\n0001=#2<#1>#1 #10\n0002=\n");
  // Each number fills its first occurrence only; "#1" also matches "#10".
  EXPECT_EQ(texts.format("X", 1, "0001,a,b"), "b<a>#1 #10");
  EXPECT_EQ(texts.format("X", 1, "0001,#K#L#N##,#x#"), "#x#<,\r\n#>#1 #10");
  // No text: the ErrText fallback, but not for a plain conversion.
  EXPECT_EQ(texts.errText("X", "0002,arg"), "SmartCard Error: 0002,arg");
  EXPECT_EQ(texts.errText("X", ""), "SmartCard Error: ");
  EXPECT_EQ(texts.format("X", 2, "0002,arg"), "");
  const std::string longArg(300, 'y');
  EXPECT_EQ(texts.format("X", 1, "0001,a," + longArg).size(), 255u);
  EXPECT_EQ(texts.errText("X", std::string(120, '7')).size(), 17u + 97u);
}

TEST(ErrorTexts, CodeOfAnErrorText) {
  EXPECT_EQ(errorCodeOf("1009,Editor"), 0x1009u);
  EXPECT_EQ(errorCodeOf(""), 0u);
  EXPECT_EQ(errorCodeOf("ABCDE"), 0xBCDEu);
  EXPECT_EQ(unescapeArgument("  a##b#Kc#Ld#Ne#Q  "), "a#b,c\rd\ne#Q");
}

}  // namespace
}  // namespace k52::chiphost

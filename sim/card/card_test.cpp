#include "sim/card/card.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "sim/card/purse.h"
#include "sim/card/test_hex.h"

namespace k52::sim {
namespace {

constexpr const char* kSelectPurse = "00 A4 04 0C 09 D2 76 00 00 25 45 50 01 00";
constexpr const char* kReadAmounts = "00 B2 01 C4 00";

Card poweredPurseCard() {
  Card card = makePurseCard(PurseConfig{1234, 20000, 5000});
  card.powerOn();
  return card;
}

std::vector<std::uint8_t> send(Card& card, const char* hex) {
  return card.process(testhex::bytes(hex));
}

struct Exchange {
  const char* name;
  bool purseSelected;
  const char* command;
  const char* response;
};

class AnswersLikeARealCard : public ::testing::TestWithParam<Exchange> {};

TEST_P(AnswersLikeARealCard, WithTheExpectedResponse) {
  Card card = poweredPurseCard();
  if (GetParam().purseSelected) {
    ASSERT_EQ(send(card, kSelectPurse), testhex::bytes("90 00"));
  }
  EXPECT_EQ(send(card, GetParam().command), testhex::bytes(GetParam().response));
}

INSTANTIATE_TEST_SUITE_P(
    Card, AnswersLikeARealCard,
    ::testing::Values(
        Exchange{"SelectPurseWithoutData", false, kSelectPurse, "90 00"},
        Exchange{"SelectPurseWithFci", false, "00 A4 04 00 09 D2 76 00 00 25 45 50 01 00 00",
                 "6F 0B 84 09 D2 76 00 00 25 45 50 01 00 90 00"},
        Exchange{"SelectFciTooShortLe", false, "00 A4 04 00 09 D2 76 00 00 25 45 50 01 00 05",
                 "6C 0D"},
        Exchange{"SelectUnknownAid", false, "00 A4 04 0C 09 D2 76 00 00 25 45 50 01 01", "6A 82"},
        Exchange{"SelectAidPrefixOnly", false, "00 A4 04 0C 05 D2 76 00 00 25", "6A 82"},
        Exchange{"SelectByFileId", false, "00 A4 00 0C 02 3F 00", "6A 86"},
        Exchange{"SelectWithoutName", false, "00 A4 04 0C", "67 00"},
        Exchange{"ReadBeforeSelect", false, kReadAmounts, "6A 82"},
        Exchange{"ReadBalance", true, kReadAmounts, "00 12 34 02 00 00 00 50 00 90 00"},
        Exchange{"ReadExactLe", true, "00 B2 01 C4 09", "00 12 34 02 00 00 00 50 00 90 00"},
        Exchange{"ReadShortLe", true, "00 B2 01 C4 05", "6C 09"},
        Exchange{"ReadWithoutLe", true, "00 B2 01 C4", "67 00"},
        Exchange{"ReadWithData", true, "00 B2 01 C4 01 00 00", "67 00"},
        Exchange{"ReadSecondRecord", true, "00 B2 02 C4 00", "6A 83"},
        Exchange{"ReadCurrentRecord", true, "00 B2 00 C4 00", "6A 83"},
        Exchange{"ReadOtherSfi", true, "00 B2 01 BC 00", "6A 82"},
        Exchange{"ReadCurrentEf", true, "00 B2 01 04 00", "69 86"},
        Exchange{"ReadByIdentifierMode", true, "00 B2 01 C0 00", "6A 86"},
        Exchange{"UnknownInsInMasterFile", false, "00 CA 9F 7F 00", "6D 00"},
        Exchange{"UnknownInsInPurse", true, "00 CA 9F 7F 00", "6D 00"},
        Exchange{"ProprietaryClass", true, "80 B2 01 C4 00", "6E 00"},
        Exchange{"InvalidClass", true, "FF B2 01 C4 00", "6E 00"},
        Exchange{"LogicalChannel", true, "01 B2 01 C4 00", "68 81"},
        Exchange{"FurtherInterindustryChannel", true, "40 B2 01 C4 00", "68 81"},
        Exchange{"SecureMessaging", true, "0C B2 01 C4 00", "68 82"},
        Exchange{"Chaining", true, "10 B2 01 C4 00", "68 84"},
        Exchange{"LcBeyondCommand", false, "00 A4 04 0C 09 D2 76 00", "67 00"},
        Exchange{"HeaderCutShort", false, "00 A4", "67 00"}),
    [](const auto& info) { return info.param.name; });

TEST(Card, FailedSelectKeepsTheSelectedApplication) {
  Card card = poweredPurseCard();
  send(card, kSelectPurse);
  EXPECT_EQ(send(card, "00 A4 04 0C 02 A0 00"), testhex::bytes("6A 82"));
  EXPECT_EQ(send(card, kReadAmounts)[2], 0x34);
}

TEST(Card, ResetAndPowerCycleReturnToTheMasterFile) {
  Card card = poweredPurseCard();
  send(card, kSelectPurse);
  EXPECT_EQ(card.reset(), card.atr());
  EXPECT_EQ(send(card, kReadAmounts), testhex::bytes("6A 82"));

  send(card, kSelectPurse);
  card.powerOff();
  EXPECT_EQ(card.powerOn(), card.atr());
  EXPECT_EQ(send(card, kReadAmounts), testhex::bytes("6A 82"));
}

TEST(Card, UnpoweredCardIsMute) {
  Card card = makePurseCard(PurseConfig{});
  EXPECT_TRUE(send(card, kSelectPurse).empty());
  card.powerOn();
  card.powerOff();
  EXPECT_FALSE(card.powered());
  EXPECT_TRUE(send(card, kSelectPurse).empty());
}

TEST(Card, RefusesAMalformedAtrAndDuplicateApplications) {
  EXPECT_THROW(Card(testhex::bytes("3B 87 81 31")), std::invalid_argument);
  Card card = makePurseCard(PurseConfig{});
  EXPECT_THROW(card.install(std::make_unique<PurseApplication>(PurseConfig{})),
               std::invalid_argument);
}

}  // namespace
}  // namespace k52::sim

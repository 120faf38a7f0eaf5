#include "sim/card/contact_card.h"

#include <gtest/gtest.h>

#include <memory>

#include "sim/card/purse.h"
#include "sim/card/test_hex.h"

namespace k52::sim {
namespace {

std::shared_ptr<Card> purse(AtrProtocols protocols) {
  return std::make_shared<Card>(makePurseCard(PurseConfig{}, protocols));
}

struct PtsCase {
  const char* name;
  AtrProtocols protocols;
  const char* request;
  const char* answer;  // "" when the card stays silent
  CardProtocol after;
};

class Pts : public ::testing::TestWithParam<PtsCase> {};

TEST_P(Pts, AnswersOrStaysSilent) {
  ContactCard contacts(purse(GetParam().protocols));
  contacts.powerOn();
  EXPECT_EQ(contacts.pts(testhex::bytes(GetParam().request)), testhex::bytes(GetParam().answer));
  EXPECT_EQ(contacts.protocol(), GetParam().after);
  EXPECT_EQ(contacts.specificMode(), std::string_view(GetParam().answer) != "");
}

INSTANTIATE_TEST_SUITE_P(
    ContactCard, Pts,
    ::testing::Values(
        PtsCase{"T1", AtrProtocols::kT0AndT1, "FF 11 11 FF", "FF 11 11 FF", CardProtocol::kT1},
        PtsCase{"T0", AtrProtocols::kT0AndT1, "FF 10 11 FE", "FF 10 11 FE", CardProtocol::kT0},
        PtsCase{"T1OnlyCard", AtrProtocols::kT1, "FF 11 11 FF", "FF 11 11 FF", CardProtocol::kT1},
        PtsCase{"OtherRateKeepsTheDefault", AtrProtocols::kT0AndT1, "FF 11 94 7A", "FF 01 FE",
                CardProtocol::kT1},
        PtsCase{"WithoutPts1", AtrProtocols::kT0AndT1, "FF 01 FE", "FF 01 FE", CardProtocol::kT1},
        PtsCase{"NotOffered", AtrProtocols::kT0, "FF 11 11 FF", "", CardProtocol::kT0},
        PtsCase{"BadCheck", AtrProtocols::kT0AndT1, "FF 11 11 FE", "", CardProtocol::kT0},
        PtsCase{"CutShort", AtrProtocols::kT0AndT1, "FF 11 11", "", CardProtocol::kT0},
        PtsCase{"NoPtss", AtrProtocols::kT0AndT1, "00 11 11 00", "", CardProtocol::kT0}),
    [](const auto& info) { return info.param.name; });

TEST(ContactCard, StartsInTheFirstOfferedProtocolAndOnlyThatOneAnswers) {
  ContactCard both(purse(AtrProtocols::kT0AndT1));
  both.powerOn();
  EXPECT_EQ(both.protocol(), CardProtocol::kT0);
  EXPECT_TRUE(both.t1(testhex::bytes("00 00 00 00")).empty());
  EXPECT_EQ(both.t0(testhex::bytes("00 B2 01 C4 00")), testhex::bytes("6A 82"));

  ContactCard t1only(purse(AtrProtocols::kT1));
  t1only.powerOn();
  EXPECT_EQ(t1only.protocol(), CardProtocol::kT1);
  EXPECT_EQ(t1only.t1Transport().ifsc(), 254u);
  EXPECT_FALSE(t1only.offers(CardProtocol::kT0));
}

TEST(ContactCard, PtsOnlyAsTheFirstExchangeAfterEachReset) {
  ContactCard contacts(purse(AtrProtocols::kT0AndT1));
  contacts.powerOn();
  contacts.t0(testhex::bytes("00 B2 01 C4 00"));
  EXPECT_TRUE(contacts.pts(testhex::bytes("FF 11 11 FF")).empty());
  EXPECT_EQ(contacts.reset(), contacts.card().atr());
  EXPECT_EQ(contacts.pts(testhex::bytes("FF 11 11 FF")), testhex::bytes("FF 11 11 FF"));
  // A second PTS in specific mode is not answered either.
  EXPECT_TRUE(contacts.pts(testhex::bytes("FF 10 11 FE")).empty());
  contacts.powerOff();
  contacts.powerOn();
  EXPECT_EQ(contacts.protocol(), CardProtocol::kT0);
  EXPECT_FALSE(contacts.specificMode());
}

}  // namespace
}  // namespace k52::sim

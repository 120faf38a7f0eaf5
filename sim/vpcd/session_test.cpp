#include "sim/vpcd/session.h"

#include <gtest/gtest.h>

#include "sim/card/purse.h"

namespace k52::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kSelectPurse{0x00, 0xA4, 0x04, 0x0C, 0x09, 0xD2, 0x76,
                         0x00, 0x00, 0x25, 0x45, 0x50, 0x01, 0x00};

struct Message {
  const char* name;
  bool poweredBefore;
  Bytes payload;
  std::optional<Bytes> reply;  // nullopt: no reply at all
  bool poweredAfter;
};

class AnswersVpcdMessages : public ::testing::TestWithParam<Message> {};

TEST_P(AnswersVpcdMessages, AsTheDriverExpects) {
  Card card = makePurseCard(PurseConfig{1234}, AtrProtocols::kT1);
  if (GetParam().poweredBefore) card.powerOn();
  EXPECT_EQ(answerVpcd(card, GetParam().payload), GetParam().reply);
  EXPECT_EQ(card.powered(), GetParam().poweredAfter);
}

INSTANTIATE_TEST_SUITE_P(
    VpcdSession, AnswersVpcdMessages,
    ::testing::Values(
        Message{"AtrWhileUnpowered", false, {kVpcdGetAtr}, readyAtr(AtrProtocols::kT1), false},
        Message{"PowerOn", false, {kVpcdPowerOn}, std::nullopt, true},
        Message{"Reset", false, {kVpcdReset}, std::nullopt, true},
        Message{"PowerOff", true, {kVpcdPowerOff}, std::nullopt, false},
        Message{"UnknownControl", true, {0x03}, std::nullopt, true},
        Message{"EmptyPayload", true, {}, std::nullopt, true},
        Message{"Apdu", true, kSelectPurse, Bytes{0x90, 0x00}, true},
        Message{"ApduToUnpoweredCard", false, kSelectPurse, Bytes{}, false},
        Message{"TooShortForAnApdu", true, {0x00, 0xA4}, Bytes{0x67, 0x00}, true}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace k52::sim

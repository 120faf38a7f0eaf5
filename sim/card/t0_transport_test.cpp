#include "sim/card/t0_transport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/card/pin_application.h"
#include "sim/card/purse.h"
#include "sim/card/test_hex.h"

namespace k52::sim {
namespace {

constexpr const char* kPurseAid = "D2 76 00 00 25 45 50 01 00";

struct Step {
  std::string in;   // bytes from the terminal
  std::string out;  // what the card sends before it waits again
};

struct Dialogue {
  const char* name;
  T0Options options;
  std::vector<Step> steps;
};

class T0Dialogues : public ::testing::TestWithParam<Dialogue> {};

TEST_P(T0Dialogues, CardSendsTheProcedureBytes) {
  Card card = makePurseCard(PurseConfig{1234, 20000, 5000});
  card.powerOn();
  T0Transport t0(card, GetParam().options);
  for (const Step& step : GetParam().steps) {
    EXPECT_EQ(t0.receive(testhex::bytes(step.in)), testhex::bytes(step.out)) << step.in;
  }
}

const std::string kFci = std::string("6F 0B 84 09 ") + kPurseAid;

INSTANTIATE_TEST_SUITE_P(
    T0, T0Dialogues,
    ::testing::Values(
        // Case 3: ACK with INS, then all data at once.
        Dialogue{"Case3", {}, {{"00 A4 04 0C 09", "A4"}, {kPurseAid, "90 00"}}},
        // Case 4: the FCI waits behind 61 xx for GET RESPONSE.
        Dialogue{"Case4GetResponse",
                 {},
                 {{"00 A4 04 00 09", "A4"},
                  {kPurseAid, "61 0D"},
                  {"00 C0 00 00 0D", "C0 " + kFci + " 90 00"}}},
        Dialogue{"GetResponseWrongLength",
                 {},
                 {{"00 A4 04 00 09", "A4"}, {kPurseAid, "61 0D"}, {"00 C0 00 00 20", "6C 0D"}}},
        Dialogue{"GetResponseInParts",
                 {},
                 {{"00 A4 04 00 09", "A4"},
                  {kPurseAid, "61 0D"},
                  {"00 C0 00 00 04", "C0 6F 0B 84 09 61 09"},
                  {"00 C0 00 00 09", "C0 " + std::string(kPurseAid) + " 90 00"}}},
        // Case 2 with the wrong Le: 6C xx, then the right one.
        Dialogue{"Case2WrongLe",
                 {},
                 {{"00 A4 04 0C 09", "A4"},
                  {kPurseAid, "90 00"},
                  {"00 B2 01 C4 05", "6C 09"},
                  {"00 B2 01 C4 09", "B2 00 12 34 02 00 00 00 50 00 90 00"}}},
        // Case 2 answered with status only.
        Dialogue{"Case2Error", {}, {{"00 B2 01 C4 00", "6A 82"}}},
        // Case 1: header with P3 = 0 for a command-data instruction.
        Dialogue{"Case1", {}, {{"00 A4 04 0C 00", "67 00"}}},
        Dialogue{
            "ByteByByte",
            {.byteByByte = true},
            {{"00 A4 04 0C 09", "5B"},
             {"D2", "5B"},
             {"76 00 00 25 45 50 01", "5B 5B 5B 5B 5B 5B 5B"},
             {"00", "90 00"},
             {"00 B2 01 C4 02", "6C 09"},
             {"00 B2 01 C4 09", "4D 00 4D 12 4D 34 4D 02 4D 00 4D 00 4D 00 4D 50 4D 00 90 00"}}},
        Dialogue{"NullBytes",
                 {.nullBytes = 2},
                 {{"00 A4 04 0C 09", "60 60 A4"}, {kPurseAid, "60 60 90 00"}}},
        Dialogue{"HeaderInPieces", {}, {{"00 A4", ""}, {"04 0C", ""}, {"09", "A4"}}},
        Dialogue{"StatusLikeIns", {}, {{"00 6A 00 00 00", "6D 00"}}}),
    [](const auto& info) { return info.param.name; });

TEST(T0Transport, CaseOneWithAPinCard) {
  Card card = makePinCard(testhex::bytes("31 32 33 34"), AtrProtocols::kT0);
  card.powerOn();
  T0Transport t0(card);
  EXPECT_EQ(t0.receive(testhex::bytes("00 A4 04 0C 08")), testhex::bytes("A4"));
  EXPECT_EQ(t0.receive(testhex::bytes("D2 76 00 00 98 50 49 4E")), testhex::bytes("90 00"));
  EXPECT_EQ(t0.receive(testhex::bytes("00 20 00 81 00")), testhex::bytes("63 C3"));
  EXPECT_EQ(t0.receive(testhex::bytes("00 20 00 81 04")), testhex::bytes("20"));
  EXPECT_EQ(t0.receive(testhex::bytes("31 32 33 34")), testhex::bytes("90 00"));
}

TEST(T0Transport, MutedCommandsAndUnpoweredCardsSendNothing) {
  Card card = makePurseCard(PurseConfig{});
  T0Transport t0(card);
  EXPECT_TRUE(t0.receive(testhex::bytes("00 B2 01 C4 00")).empty());
  card.powerOn();
  t0.muteFor(1);
  EXPECT_TRUE(t0.receive(testhex::bytes("00 B2 01 C4 00")).empty());
  EXPECT_EQ(t0.receive(testhex::bytes("00 B2 01 C4 00")), testhex::bytes("6A 82"));
}

TEST(T0Transport, RestartDropsWaitingResponseData) {
  Card card = makePurseCard(PurseConfig{});
  card.powerOn();
  T0Transport t0(card);
  t0.receive(testhex::bytes("00 A4 04 00 09"));
  EXPECT_EQ(t0.receive(testhex::bytes(kPurseAid)), testhex::bytes("61 0D"));
  t0.receive(testhex::bytes("00 A4"));
  t0.restart();
  // GET RESPONSE now reaches the card itself, which does not know it.
  EXPECT_EQ(t0.receive(testhex::bytes("00 C0 00 00 0D")), testhex::bytes("6D 00"));
}

}  // namespace
}  // namespace k52::sim

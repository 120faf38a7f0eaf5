// T=0 through the terminal: the host sends TPDUs with 0x67, the terminal
// follows the card's procedure bytes.
#include <gtest/gtest.h>

#include <string>

#include "sim/k52fw/firmware_fixture.h"

namespace k52::sim {
namespace {

using std::chrono::milliseconds;

const std::string kAid = "D2 76 00 00 25 45 50 01 00";
const std::string kAmounts = "00 12 34 02 00 00 00 50 00";

struct T0Case {
  const char* name;
  T0Options options;
};

class T0Path : public FirmwareTest, public ::testing::WithParamInterface<T0Case> {
 protected:
  void SetUp() override {
    insertPurse(AtrProtocols::kT0AndT1, GetParam().options);
    powerOn();
  }
};

// The four cases of ISO/IEC 7816-3 at TPDU level, with 61xx and 6Cxx,
// however the card hands out its procedure bytes.
TEST_P(T0Path, CarriesTheFourCommandCases) {
  // Case 3.
  EXPECT_EQ(run("67 00 A4 04 0C 09 " + kAid), hex("64 90 00"));
  // Case 2, wrong Le first, then the one 6C names.
  EXPECT_EQ(run("67 00 B2 01 C4 04"), hex("64 6C 09"));
  EXPECT_EQ(run("67 00 B2 01 C4 09"), hex("64 " + kAmounts + " 90 00"));
  // Case 4: the response waits behind 61 xx.
  EXPECT_EQ(run("67 00 A4 04 00 09 " + kAid), hex("64 61 0D"));
  EXPECT_EQ(run("67 00 C0 00 00 0D"), hex("64 6F 0B 84 09 " + kAid + " 90 00"));
  // Case 1.
  EXPECT_EQ(run("67 00 A4 04 0C 00"), hex("64 67 00"));
  // Case 2 with status only.
  EXPECT_EQ(run("67 00 B2 02 C4 00"), hex("64 6A 83"));
}

INSTANTIATE_TEST_SUITE_P(K52Firmware, T0Path,
                         ::testing::Values(T0Case{"AllAtOnce", {}},
                                           T0Case{"ByteByByte", {.byteByByte = true}},
                                           T0Case{"WithNullBytes", {.nullBytes = 3}}),
                         [](const auto& info) { return info.param.name; });

TEST_F(FirmwareTest, MalformedTpdusAreRefused) {
  insertPurse();
  powerOn();
  EXPECT_EQ(run("67 00 A4 04"), hex("67"));              // header cut short
  EXPECT_EQ(run("67 00 A4 04 0C 09 D2 76"), hex("67"));  // fewer bytes than P3
}

TEST_F(FirmwareTest, ErrorAnswerThenRetryWithoutResending) {
  auto card = insertPurse();
  powerOn();
  firmware.slot().contacts()->t0Transport().muteFor(2);
  EXPECT_EQ(run("67 00 B2 01 C4 00"), hex("67"));
  EXPECT_EQ(run("68"), hex("67"));
  EXPECT_EQ(run("68"), hex("64 6A 82"));
  // Once answered there is nothing left to retry.
  EXPECT_EQ(run("68"), hex("67"));
}

TEST_F(FirmwareTest, SlowCardGetsWaitingAnswersThenItsOwn) {
  insertPurse(AtrProtocols::kT0AndT1, {.workTime = milliseconds(2000)});
  powerOn();
  // WI 10: 714.24 ms of work waiting time.
  EXPECT_TRUE(run("67 00 B2 01 C4 00").empty());
  timeline.runFor(milliseconds(715));
  EXPECT_EQ(late, (std::vector<Bytes>{hex("63")}));
  // Busy meanwhile; the keep-waiting string gets no answer.
  EXPECT_EQ(run("65"), hex("67"));
  EXPECT_TRUE(run("").empty());
  timeline.runFor(milliseconds(1284));
  EXPECT_EQ(late.size(), 2u);
  timeline.runFor(milliseconds(1));
  EXPECT_EQ(late, (std::vector<Bytes>{hex("63"), hex("63"), hex("64 6A 82")}));
  EXPECT_EQ(run("65"), hex("64 19 00 00 03"));
}

TEST_F(FirmwareTest, LongerWaitingIntegerKeepsASlowCardInTime) {
  insertPurse(AtrProtocols::kT0AndT1, {.workTime = milliseconds(2000)});
  powerOn();
  run("61 00 00 1E 00 10");  // WI 30: 2.14 s
  EXPECT_EQ(run("67 00 B2 01 C4 00"), hex("64 6A 82"));
}

TEST_F(FirmwareTest, PullingTheCardWhileItWorksGivesTheNoCardAnswer) {
  insertPurse(AtrProtocols::kT0AndT1, {.workTime = milliseconds(2000)});
  powerOn();
  EXPECT_TRUE(run("67 00 B2 01 C4 00").empty());
  timeline.runFor(milliseconds(800));
  firmware.pullCard();
  timeline.runFor(milliseconds(5000));
  EXPECT_EQ(late, (std::vector<Bytes>{hex("63"), hex("67")}));
  EXPECT_EQ(run("65"), hex("64 00 00 00 00"));
}

}  // namespace
}  // namespace k52::sim

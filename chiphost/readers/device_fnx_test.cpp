// The FNX family against the firmware simulator on the virtual clock:
// attach across types and firmware levels, lost answers and commands, error
// bursts, the speed limit, the presence cache, card transfers, and a long
// seeded run with faults and pulls.
#include "chiphost/readers/device_fnx.h"

#include <gtest/gtest.h>

#include <random>

#include "chiphost/core/excpt.h"
#include "chiphost/readers/reader_attachment.h"
#include "chiphost/readers/test_rig.h"

namespace k52::chiphost {
namespace {

using namespace std::chrono_literals;

struct AttachCase {
  const char* name;
  sim::FnxConfig config;
  int type;            // 0: the attach fails
  std::int32_t speed;  // the verified maximum
  bool identity;       // LotNr and Serial read
};

class FnxAttach : public ::testing::TestWithParam<AttachCase> {};

TEST_P(FnxAttach, FindsTypeVersionIdentityAndSpeed) {
  const AttachCase& c = GetParam();
  ReaderRig rig;
  std::vector<std::uint16_t> progress;
  BasicReaderHost host([&](std::uint16_t code, std::uint16_t v) {
    if (code == 301) progress.push_back(v);
  });
  if (c.config.type != 0) rig.plugReader(c.config);
  ReaderAttachment card(host, kRigPort, 0);
  if (c.type == 0) {
    EXPECT_THROW(card.Attach(2), Excpt);
    EXPECT_FALSE(card.attached());
    EXPECT_FALSE(card.comPort().isOpen());
    EXPECT_TRUE(card.comPort().dtr());
    EXPECT_TRUE(card.comPort().rts());
    EXPECT_EQ(progress.back(), static_cast<std::uint16_t>(kRigPort - 256));
    // 20 attempts on the first setting, one on each of the others.
    EXPECT_EQ(progress.size(), 1u + 20 + 1 + 1 + 1);
    return;
  }
  card.Attach(2);
  EXPECT_EQ(card.type(), c.type);
  EXPECT_EQ(card.family(), 1);
  const DeviceIdentity id = card.GetIdentity();
  EXPECT_EQ(id.version, c.config.firmware);
  EXPECT_EQ(id.maxBaudrateText(), std::to_string(c.speed));
  EXPECT_EQ(id.lotNr, c.identity ? c.config.lot : 0);
  EXPECT_EQ(id.serial, c.identity ? c.config.serial : 0);
  EXPECT_EQ(progress.front(), kRigPort);
  EXPECT_EQ(progress.back(), static_cast<std::uint16_t>(kRigPort - 512));
  EXPECT_EQ(host.attaching(), 0);
  EXPECT_EQ(card.capabilities(), c.type == 3 ? 2 : 6);
}

INSTANTIATE_TEST_SUITE_P(
    Readers, FnxAttach,
    ::testing::Values(AttachCase{"Fnx42", {1, 0x42, 1234, 5678, 115200}, 1, 115200, true},
                      AttachCase{"Firmware10", {1, 0x10, 1, 2, 115200}, 1, 9600, false},
                      AttachCase{"Firmware12", {1, 0x12, 1, 2, 115200}, 1, 9600, false},
                      AttachCase{"Firmware13", {1, 0x13, 7, 9, 115200}, 1, 115200, true},
                      AttachCase{"Firmware41", {2, 0x41, 7, 9, 115200}, 2, 115200, true},
                      AttachCase{"Klemmling", {3, 0x42, 7, 9, 115200}, 3, 115200, true},
                      AttachCase{"ExternII", {6, 0x42, 7, 9, 115200}, 6, 115200, true},
                      AttachCase{"Modul", {9, 0x42, 7, 9, 115200}, 9, 115200, true},
                      AttachCase{"LimitedTo57600", {1, 0x42, 7, 9, 57600}, 1, 57600, true},
                      AttachCase{"SilentPort", {0, 0x42, 0, 0, 115200}, 0, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FnxAttachFailure, APortThatCannotOpenTakesTheFailurePathAndRaises1001) {
  ReaderRig rig;
  std::vector<std::uint16_t> progress;
  BasicReaderHost host([&](std::uint16_t, std::uint16_t v) { progress.push_back(v); });
  ReaderAttachment card(host, 7, 0);
  try {
    card.Attach(2);
    FAIL();
  } catch (const Excpt& e) {
    EXPECT_EQ(e.text(), "1001");
  }
  EXPECT_FALSE(card.attached());
  EXPECT_EQ(host.attaching(), 0);
  EXPECT_EQ(progress.back(), static_cast<std::uint16_t>(7 - 256));
  EXPECT_THROW(card.CardPresent(), Excpt);
}

TEST(FnxTwin, SlotZeroBecomesType7AndBringsSlotOneAsType8) {
  ReaderRig rig;
  rig.plugReader({.type = 7});
  ReaderAttachment& first = rig.host.cardOfSlot(kRigPort, 0);
  first.Attach(0);
  EXPECT_EQ(first.type(), 7);
  ReaderAttachment& second = rig.host.cardOfSlot(kRigPort, 1);
  EXPECT_TRUE(second.attached());
  EXPECT_EQ(second.type(), 8);
  EXPECT_EQ(first.comPort().handle(), second.comPort().handle());
  rig.reader->firmware().insertCard(1, ReaderRig::purseCard());
  second.fnx().forceStatus();
  EXPECT_TRUE(second.CardPresent());
  first.fnx().forceStatus();
  EXPECT_FALSE(first.CardPresent());
}

struct AttachedFnx : ::testing::Test {
  ReaderRig rig;
  sim::FnxFirmware& fw = rig.plugReader({.lot = 1, .serial = 2});
  ReaderAttachment card{rig.host, kRigPort, 0};
  void SetUp() override { card.Attach(0); }
  unsigned runs(const char* name) {
    auto it = fw.executions().find(name);
    return it == fw.executions().end() ? 0 : it->second;
  }
};

TEST_F(AttachedFnx, ALostAnswerIsFetchedOnceAndTheCommandNotRepeated) {
  fw.insertCard(0, ReaderRig::purseCard());
  const unsigned before = runs("status");
  fw.faults().dropAnswers = 1;
  card.fnx().forceStatus();
  EXPECT_TRUE(card.CardPresent());
  EXPECT_EQ(runs("status"), before + 1);
  EXPECT_EQ(runs("repeat"), 1u);
  EXPECT_EQ(card.fnx().hostCounter(), fw.counter(0));
}

TEST_F(AttachedFnx, ALostCommandIsSentAgain) {
  const unsigned before = runs("mode");
  fw.faults().dropCommands = 1;
  card.SetLed(2);
  EXPECT_EQ(runs("mode"), before + 1);
  EXPECT_EQ(runs("repeat"), 0u);
  EXPECT_EQ(card.fnx().hostCounter(), fw.counter(0));
}

TEST_F(AttachedFnx, ErrorBurstsFallBackLowerTheSpeedAndEndInFailure) {
  ASSERT_EQ(card.fnx().currentSpeed(), 115200);
  fw.faults().mute = 0;
  const Duration start = rig.clock.now();
  card.fnx().forceStatus();
  EXPECT_THROW(card.CardPresent(), Excpt);
  EXPECT_TRUE(card.fnx().failed());
  EXPECT_EQ(card.fnx().currentSpeed(), 9600);
  EXPECT_EQ(card.fnx().verifiedMaximum(), 57600);
  EXPECT_EQ(card.fnx().badFrames(), 9u);
  // Failed: every command ends at once, without a 3 s retry window.
  const Duration failedAt = rig.clock.now();
  EXPECT_LT(failedAt - start, 3s);
  EXPECT_THROW(card.SetLed(1), Excpt);
  EXPECT_EQ(rig.clock.now(), failedAt);
  // A new attach finds it again.
  fw.faults().mute.reset();
  card.Attach(0);
  EXPECT_FALSE(card.fnx().failed());
}

TEST_F(AttachedFnx, AnEmptyStatusPollCostsNoFrameUntilTheReaderSignals) {
  const unsigned before = runs("status");
  EXPECT_FALSE(card.CardPresent());
  EXPECT_FALSE(card.CardPresent());
  EXPECT_EQ(runs("status"), before);
  fw.insertCard(0, ReaderRig::purseCard());
  rig.clock.advance(10ms);
  EXPECT_TRUE(card.CardPresent());
  EXPECT_TRUE(card.CardChanged());
  EXPECT_FALSE(card.CardChanged());
  EXPECT_EQ(runs("status"), before + 1);
}

TEST_F(AttachedFnx, CardBytesGoThroughTheTransparentMode) {
  fw.insertCard(0, ReaderRig::purseCard());
  card.PowerOn();
  std::uint8_t ts = 0;
  ASSERT_TRUE(card.ResetCard(true, ts, 1000));
  EXPECT_EQ(ts, 0x3B);
  std::uint8_t b;
  while (card.ReceiveByte(b, 50)) {
  }
  EXPECT_EQ(card.fnx().hostCounter(), fw.counter(0));
  // SELECT by name with T=0: the procedure byte or the status come back.
  const std::uint8_t header[] = {0x00, 0xA4, 0x04, 0x00, 0x07};
  std::vector<std::uint8_t> answer;
  ASSERT_TRUE(card.Transmit(1, true, 100, 1000, answer, header));
  EXPECT_EQ(answer.size(), 1u);
  EXPECT_EQ(card.fnx().hostCounter(), fw.counter(0));
  EXPECT_EQ(runs("transfer"), 1u);
}

TEST_F(AttachedFnx, AMissingCardAnswerCountsTheTransferAsDone) {
  const std::uint8_t header[] = {0x00, 0xA4, 0x04, 0x00, 0x07};
  std::vector<std::uint8_t> answer;
  // No card: the reader runs the transfer and nothing comes back.
  EXPECT_FALSE(card.Transmit(1, true, 100, 200, answer, header));
  EXPECT_EQ(runs("transfer"), 1u);
  EXPECT_EQ(card.fnx().hostCounter(), fw.counter(0));
}

TEST_F(AttachedFnx, ARecheckFindsTheSameReaderOrDetaches) {
  EXPECT_NO_THROW(card.Attach(3));
  EXPECT_NO_THROW(card.Attach(4));
  rig.line->setInputs(0);  // DSR off: firmware 66 and later must show it
  EXPECT_THROW(card.Attach(4), Excpt);
  EXPECT_FALSE(card.attached());
}

TEST(FnxDestruction, AnAttachedReaderGoesDarkTo9600AndPowersItsCardOff) {
  ReaderRig rig;
  sim::FnxFirmware& fw = rig.plugReader();
  fw.insertCard(0, ReaderRig::purseCard());
  auto card = std::make_unique<ReaderAttachment>(rig.host, kRigPort, 0);
  card->Attach(0);
  card->PowerOn();
  card->SetLed(3);
  ASSERT_EQ(fw.speed(), 115200);
  const unsigned modes = fw.executions().at("mode");
  card.reset();
  rig.line->run();
  EXPECT_EQ(fw.executions().at("mode"), modes + 1);
  EXPECT_EQ(fw.executions().at("power-off"), 1u);
  EXPECT_EQ(fw.speed(), 9600);
  EXPECT_EQ(rig.line->hostFrame().baudRate, 9600u);
}

TEST(FnxLongRun, TenVirtualMinutesOfFaultsAndPullsKeepTheirPromises) {
  ReaderRig rig;
  sim::FnxFirmware& fw = rig.plugReader({.lot = 3, .serial = 4});
  ReaderAttachment card(rig.host, kRigPort, 0);
  std::mt19937 random(20261211);
  card.Attach(0);
  unsigned ledOk = 0, ledFailed = 0, statusReads = 0, failures = 0, reattached = 0;
  auto modeRuns = [&] {
    auto it = fw.executions().find("mode");
    return it == fw.executions().end() ? 0u : it->second;
  };
  unsigned modeBase = modeRuns();
  while (rig.clock.now() < 10min) {
    const unsigned fault = random() % 20;
    if (fault == 0) fw.faults().dropAnswers = 1;
    if (fault == 1) fw.faults().dropCommands = 1;
    if (fault == 2) fw.faults().garble = 1;
    // Now and then the reader goes deaf long enough to be declared failed.
    if (fault == 4 && random() % 4 == 0) fw.faults().mute = 12;
    if (fault == 3) {
      if (fw.cardPresent(0)) {
        fw.pullCard(0);
      } else {
        fw.insertCard(0, ReaderRig::purseCard());
      }
    }
    const Duration before = rig.clock.now();
    try {
      if (!card.attached() || card.fnx().failed()) {
        card.Attach(0);
        ++reattached;
        modeBase = modeRuns();
        ledOk = ledFailed = 0;
      }
      if (random() % 2) {
        card.fnx().forceStatus();
        // A status answered as success is the firmware's truth.
        EXPECT_EQ(card.CardPresent(), fw.cardPresent(0));
        ++statusReads;
      } else {
        card.SetLed(static_cast<int>(random() % 4));
        ++ledOk;
      }
    } catch (const Excpt& e) {
      EXPECT_EQ(e.text(), "1008");
      ++ledFailed;
      ++failures;
    }
    // No call waits beyond its retry windows.
    EXPECT_LT(rig.clock.now() - before, 20s);
    // Never executed twice: each successful LED step ran once, a failed one
    // at most once.
    EXPECT_GE(modeRuns() - modeBase, ledOk);
    EXPECT_LE(modeRuns() - modeBase, ledOk + ledFailed);
    rig.clock.advance(std::chrono::milliseconds(random() % 500));
  }
  // The run did work: thousands of commands, faults recovered from.
  EXPECT_GT(statusReads, 500u);
  EXPECT_GT(fw.executions().at("repeat"), 10u);
  EXPECT_GT(failures, 0u);
  EXPECT_GT(reattached, 0u);
  RecordProperty("status_reads", statusReads);
  RecordProperty("failures", failures);
  RecordProperty("reattached", reattached);
}

}  // namespace
}  // namespace k52::chiphost

// T=0 and T=1 exchanges with their retry, waiting and extension rules, and
// how they meet the polling and the removal.
#include <gtest/gtest.h>

#include <algorithm>

#include "drivers/reader/test_reader_rig.h"

namespace k52::varnel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// How often the host sent the frame starting with `command` (one length
// byte 00 0L assumed below 16), seen as nibble codes on the keyboard line.
std::size_t framesSent(ReaderRig& rig, std::uint8_t length, std::uint8_t command) {
  const Bytes codes = rig.pc().wiring().hostBytes().bytes();
  const Bytes frame = {0xB0,
                       0xB0,
                       0xB0,
                       static_cast<std::uint8_t>(0xB0 + length),
                       static_cast<std::uint8_t>(0xB0 + (command >> 4)),
                       static_cast<std::uint8_t>(0xB0 + (command & 0x0F))};
  std::size_t n = 0;
  for (auto it = codes.begin();
       (it = std::search(it, codes.end(), frame.begin(), frame.end())) != codes.end(); ++it) {
    ++n;
  }
  return n;
}

class ReaderExchange : public ::testing::Test {
 protected:
  void startWith(sim::AtrProtocols protocols, nt::ULONG protocol) {
    rig.insertPurse(protocols);
    ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
    created = rig.scheduler().now();
    ASSERT_EQ(rig.setProtocol(protocol).status, nt::STATUS_SUCCESS);
    ASSERT_EQ(rig.transmit(protocol, kSelectPurse).out, (Bytes{0x90, 0x00}));
    rig.pc().wiring().hostBytes().clear();
  }
  sim::ContactCard& contacts() { return *rig.terminal().slot().contacts(); }

  ReaderRig rig;
  Duration created{};  // the polling timer was armed just before
};

TEST_F(ReaderExchange, AMuteT0CardEndsAfterFourRetriesAndTheNextCommandGoesInFull) {
  startWith(sim::AtrProtocols::kT0, nt::SCARD_PROTOCOL_T0);
  contacts().t0Transport().muteFor(5);
  EXPECT_EQ(rig.transmit(nt::SCARD_PROTOCOL_T0, kReadBalance).status, nt::STATUS_IO_TIMEOUT);
  EXPECT_EQ(framesSent(rig, 1, 0x68), 4u);
  EXPECT_EQ(framesSent(rig, 6, 0x67), 1u);
  const auto record = rig.transmit(nt::SCARD_PROTOCOL_T0, kReadBalance);
  EXPECT_EQ(record.status, nt::STATUS_SUCCESS);
  EXPECT_EQ(record.out.size(), 11u);
  EXPECT_EQ(framesSent(rig, 6, 0x67), 2u);
}

TEST_F(ReaderExchange, ASlowT0CardIsWaitedForWithoutResending) {
  startWith(sim::AtrProtocols::kT0, nt::SCARD_PROTOCOL_T0);
  contacts().t0Transport().options().workTime = 2500ms;  // beyond three work waiting times
  const auto record = rig.transmit(nt::SCARD_PROTOCOL_T0, kReadBalance);
  EXPECT_EQ(record.status, nt::STATUS_SUCCESS);
  EXPECT_EQ(record.out.size(), 11u);
  EXPECT_EQ(framesSent(rig, 6, 0x67), 1u);  // the command went out once
}

TEST_F(ReaderExchange, TheCardsWaitingTimeExtensionMovesTheBlockToCommand6C) {
  startWith(sim::AtrProtocols::kT1, nt::SCARD_PROTOCOL_T1);
  contacts().t1Transport().takeLong(1, 3);
  const auto record = rig.transmit(nt::SCARD_PROTOCOL_T1, kReadBalance);
  EXPECT_EQ(record.status, nt::STATUS_SUCCESS);
  EXPECT_EQ(record.out.size(), 11u);
  // The answer to the card's request went with 0x6C: S(WTX response), 5 bytes.
  EXPECT_EQ(framesSent(rig, 6, 0x6C), 1u);
}

TEST_F(ReaderExchange, APollBetweenTwoT1TransmitsLeavesTheLinkInStep) {
  // A card offering both protocols, switched to T=1 by a PTS: the terminal
  // now reports it in specific mode, which the poll sees as a new state.
  startWith(sim::AtrProtocols::kT0AndT1, nt::SCARD_PROTOCOL_T1);
  rig.run(created + 11s - rig.scheduler().now());
  ASSERT_EQ(framesSent(rig, 1, 0x65), 1u);  // the poll ran
  const auto record = rig.transmit(nt::SCARD_PROTOCOL_T1, kReadBalance);
  EXPECT_EQ(record.status, nt::STATUS_SUCCESS);
  EXPECT_EQ(record.out, kBalanceRecord);
  // One I-block (the APDU of 5 bytes in a block of 9), and no R- or S-block
  // of a link that lost count (IFS request, resynchronisation).
  EXPECT_EQ(framesSent(rig, 10, 0x67), 1u);
  EXPECT_EQ(framesSent(rig, 5, 0x67) + framesSent(rig, 6, 0x67), 0u);
}

TEST_F(ReaderExchange, AfterAPowerUpNoAnswerIsMadeUpInTheCardsName) {
  // The card's answer to the select was its first I-block, N(S) 0.
  startWith(sim::AtrProtocols::kT1, nt::SCARD_PROTOCOL_T1);
  ASSERT_EQ(rig.power(nt::SCARD_COLD_RESET).status, nt::STATUS_SUCCESS);
  // The driver answers this block itself, in the card's name, as the
  // keypad's PIN answer already came from the card. Without a PIN entry
  // since the power-up there is no such answer, and none may be made up:
  // the library refuses the block that would stand for it.
  const auto dummy = rig.transmit(nt::SCARD_PROTOCOL_T1, {0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(dummy.status, nt::STATUS_DEVICE_PROTOCOL_ERROR);
  EXPECT_EQ(rig.transmit(nt::SCARD_PROTOCOL_T1, kSelectPurse).out, (Bytes{0x90, 0x00}));
}

TEST_F(ReaderExchange, LongCommandsAreChainedInT1) {
  startWith(sim::AtrProtocols::kT1, nt::SCARD_PROTOCOL_T1);
  Bytes select = {0x00, 0xA4, 0x04, 0x0C, 200};
  select.resize(5 + 200, 0x42);
  const auto answer = rig.transmit(nt::SCARD_PROTOCOL_T1, select);
  EXPECT_EQ(answer.status, nt::STATUS_SUCCESS);
  EXPECT_EQ(answer.out, (Bytes{0x6A, 0x82}));
}

TEST_F(ReaderExchange, APollFallingDueDuringATransmitWaitsForIt) {
  startWith(sim::AtrProtocols::kT0, nt::SCARD_PROTOCOL_T0);
  // The first poll falls due 10 s after creation, in the middle of this.
  rig.run(created + 9500ms - rig.scheduler().now());
  contacts().t0Transport().options().workTime = 2000ms;
  rig.pc().wiring().hostBytes().clear();
  const Duration start = rig.scheduler().now();
  ASSERT_EQ(rig.transmit(nt::SCARD_PROTOCOL_T0, kReadBalance).status, nt::STATUS_SUCCESS);
  const Duration end = rig.scheduler().now();
  EXPECT_GT(end, created + 10s);
  EXPECT_EQ(framesSent(rig, 1, 0x65), 0u);  // no status query in between
  // Skipped, the first poll comes again after its own 10 s.
  rig.run(start + 10s - rig.scheduler().now());
  EXPECT_EQ(framesSent(rig, 1, 0x65), 0u);
  rig.run(1s);
  EXPECT_EQ(framesSent(rig, 1, 0x65), 1u);
}

TEST_F(ReaderExchange, RemovalEndsAWaitAtOnce) {
  startWith(sim::AtrProtocols::kT0, nt::SCARD_PROTOCOL_T0);
  contacts().t0Transport().options().workTime = 60s;
  const auto transmit = rig.transmitInBackground(nt::SCARD_PROTOCOL_T0, kReadBalance);
  rig.run(1s);
  ASSERT_EQ(transmit->status, nt::STATUS_PENDING);
  const Duration unloadAt = rig.scheduler().now();
  rig.unload();  // waits 3 s, then removes the reader
  EXPECT_EQ(transmit->status, nt::STATUS_DEVICE_DATA_ERROR);
  EXPECT_LT(transmit->end - unloadAt, 3500ms);
  EXPECT_EQ(rig.pc().kernel().findDevice(kDeviceName), nullptr);
}

TEST_F(ReaderExchange, NoPollStartsOnceRemovalHasBegun) {
  startWith(sim::AtrProtocols::kT0, nt::SCARD_PROTOCOL_T0);
  contacts().t0Transport().options().workTime = 60s;
  const auto transmit = rig.transmitInBackground(nt::SCARD_PROTOCOL_T0, kReadBalance);
  // The transmit holds the reader when the first poll falls due, 10 s after
  // creation, which puts it off by another 10 s. Removal begins (3 s into
  // the unload) 100 ms before that, and ends the transmit's wait at once:
  // the reader is free when the poll falls due, before removal claims it.
  rig.run(created + 16900ms - rig.scheduler().now());
  ASSERT_EQ(transmit->status, nt::STATUS_PENDING);
  rig.pc().wiring().hostBytes().clear();
  rig.unload();
  EXPECT_LT(transmit->end, created + 20s);
  EXPECT_EQ(framesSent(rig, 1, 0x65), 0u);
}

}  // namespace
}  // namespace k52::varnel

// Long seeded runs with everything going wrong at random moments: cards
// come and go, acknowledgments get lost, people type. The driver must keep
// answering, and never give a wrong answer as a success. Every failure names
// the seed that replays it (K52_SEED).
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "drivers/reader/test_reader_rig.h"
#include "testing/fault_mix.h"

namespace k52::varnel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using k52::testing::Fault;
using k52::testing::FaultMix;
using k52::testing::RunSeed;

constexpr std::uint64_t kDefaultSeed = 20261210;

struct Tally {
  int requests = 0;
  int balances = 0;
  int wrong = 0;
  Duration longest{0};
  std::map<nt::NTSTATUS, int> failures;
};

// An application that keeps reading the balance, as a PC/SC client would.
void application(ReaderRig& rig, const bool& stop, Tally& tally, const RunSeed& seed) {
  SCOPED_TRACE(seed.describe());
  auto handle = rig.pc().kernel().openDevice(kDeviceName);
  ASSERT_NE(handle, nullptr);
  const auto request = [&](nt::ULONG code, const Bytes& in, std::size_t outSize) {
    Bytes out(outSize);
    const Duration start = rig.scheduler().now();
    const auto result = handle->deviceIoControl(code, in, out);
    // A presence request waits as long as the card stays out, by design.
    if (code != nt::IOCTL_SMARTCARD_IS_PRESENT) {
      tally.longest = std::max(tally.longest, rig.scheduler().now() - start);
    }
    ++tally.failures[result.status];
    ++tally.requests;
    out.resize(result.bytesReturned);
    return std::pair{result.status, out};
  };
  const auto transmit = [&](const Bytes& apdu) {
    auto [status, out] = request(nt::IOCTL_SMARTCARD_TRANSMIT,
                                 ReaderRig::transmitInput(nt::SCARD_PROTOCOL_T0, apdu), 8 + 64);
    if (out.size() >= 8) out.erase(out.begin(), out.begin() + 8);
    return std::pair{status, out};
  };
  while (!stop) {
    if (request(nt::IOCTL_SMARTCARD_IS_PRESENT, {}, 0).first != nt::STATUS_SUCCESS) continue;
    if (request(nt::IOCTL_SMARTCARD_POWER, ReaderRig::ulong(nt::SCARD_COLD_RESET), 64).first !=
        nt::STATUS_SUCCESS) {
      continue;
    }
    if (request(nt::IOCTL_SMARTCARD_SET_PROTOCOL, ReaderRig::ulong(nt::SCARD_PROTOCOL_T0), 4)
            .first != nt::STATUS_SUCCESS) {
      continue;
    }
    if (transmit(kSelectPurse) != std::pair{nt::STATUS_SUCCESS, Bytes{0x90, 0x00}}) continue;
    const auto [status, out] = transmit(kReadBalance);
    if (status != nt::STATUS_SUCCESS) continue;
    if (out == kBalanceRecord) {
      ++tally.balances;
    } else if (out.size() != 2) {  // a status word of the card's is an answer too
      ++tally.wrong;
      ADD_FAILURE() << "wrong balance record " << ::testing::PrintToString(out);
    }
  }
}

std::shared_ptr<sim::Card> purse() {
  return std::make_shared<sim::Card>(
      sim::makePurseCard(sim::PurseConfig{1234}, sim::AtrProtocols::kT0));
}

// Starts the reader with a purse in `terminal` and runs `mix` against it
// while the application reads the balance.
void runFaults(ReaderRig& rig, sim::K52Firmware& terminal, const FaultMix& mix,
               const RunSeed& seed) {
  std::mt19937_64 random(seed.faults());
  terminal.insertCard(purse());
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  rig.closeHandle();
  bool stop = false;
  bool ended = false;
  Tally tally;
  rig.scheduler().startThread("application", [&] {
    application(rig, stop, tally, seed);
    ended = true;
  });

  bool inserted = true;
  const Duration end = rig.scheduler().now() + mix.length;
  while (rig.scheduler().now() < end) {
    rig.run(mix.calm(random));
    switch (mix.pick(random)) {
      case Fault::kCardMoves:
        if (inserted) {
          terminal.pullCard();
        } else {
          terminal.insertCard(purse());
        }
        inserted = !inserted;
        break;
      case Fault::kLostAcks:
        rig.pc().wiring().dropAcks(mix.acksLost(random));
        break;
      case Fault::kTyping: {
        // Letters whose make codes are not nibble codes (0x10..0x1F): those
        // cannot be told from the terminal's codes inside a frame.
        const std::uint8_t keys[] = {static_cast<std::uint8_t>(0x20 + random() % 6),
                                     static_cast<std::uint8_t>(0x2C + random() % 6)};
        rig.pc().keyboard().type(keys);
        break;
      }
      case Fault::kNothing:
        break;
    }
  }
  if (!inserted) terminal.insertCard(purse());
  stop = true;
  ASSERT_TRUE(rig.scheduler().runUntil([&] { return ended; }, 2min))
      << rig.scheduler().failure() << " requests " << tally.requests << " balances "
      << tally.balances;
  EXPECT_EQ(tally.wrong, 0);
  EXPECT_GE(tally.balances, 10) << ::testing::PrintToString(tally.failures) << " requests "
                                << tally.requests;
  // No request hangs: the longest is a cold reset whose five exchanges all
  // lose an acknowledgment, each failing after its 5 s, behind a poll.
  EXPECT_LT(tally.longest, 40s);
  // The keystrokes all reached the system's reader.
  if (mix.typing > 0) EXPECT_FALSE(rig.pc().reader().codes().empty());
}

TEST(ReaderFaults, TenMinutesOfCardsLostAcknowledgmentsAndTyping) {
  const RunSeed seed(kDefaultSeed);
  SCOPED_TRACE(seed.describe());
  ReaderRig rig({.seed = seed.scheduler()});
  runFaults(rig, rig.terminal(), FaultMix{}, seed);
}

TEST(ReaderFaults, TenMinutesOfCardsAndTypingBesideTheSerialTerminal) {
  const RunSeed seed(kDefaultSeed);
  SCOPED_TRACE(seed.describe());
  ReaderRig rig({.port = "COM1", .serial = SerialEnd::kTerminal, .seed = seed.scheduler()});
  FaultMix mix;
  mix.lostAcks = 0;  // the keyboard line carries nothing of this terminal's
  runFaults(rig, rig.serialTerminal(), mix, seed);
}

}  // namespace
}  // namespace k52::varnel

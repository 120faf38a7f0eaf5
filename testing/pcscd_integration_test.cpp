// The simulated card through a real (private) pcscd and the vpcd driver,
// seen by a client that uses nothing but pcsc-lite.
#include <signal.h>
#include <winscard.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sim/card/purse.h"
#include "sim/vpcd/vpcd_card.h"
#include "testing/private_pcscd.h"

namespace k52::testing {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<BYTE>;
using sim::AtrProtocols;

constexpr DWORD kStateTimeoutMs = 5000;
constexpr auto kInsertTimeout = 5s;

const Bytes kSelectPurse{0x00, 0xA4, 0x04, 0x0C, 0x09, 0xD2, 0x76,
                         0x00, 0x00, 0x25, 0x45, 0x50, 0x01, 0x00};
const Bytes kReadAmounts{0x00, 0xB2, 0x01, 0xC4, 0x00};

class PcscdWithVpcd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_),
              SCARD_S_SUCCESS);
  }
  void TearDown() override {
    if (handle_) SCardDisconnect(handle_, SCARD_LEAVE_CARD);
    SCardReleaseContext(context_);
  }

  std::unique_ptr<sim::VpcdCard> insertCard(AtrProtocols protocols, int slot = 0) {
    auto card = std::make_unique<sim::VpcdCard>(sim::makePurseCard({.balance = 1234}, protocols),
                                                daemon_.vpcdPort(slot));
    EXPECT_TRUE(card->insert(kInsertTimeout));
    return card;
  }

  // Blocks until the reader reports a card (or none); the final state mask.
  DWORD waitFor(int slot, bool present) {
    return daemon_.waitForCard(daemon_.readerName(slot), present, 1ms * kStateTimeoutMs);
  }

  DWORD connect(int slot = 0, DWORD protocols = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1) {
    DWORD protocol = 0;
    EXPECT_EQ(SCardConnect(context_, daemon_.readerName(slot).c_str(), SCARD_SHARE_SHARED,
                           protocols, &handle_, &protocol),
              SCARD_S_SUCCESS);
    return protocol;
  }

  Bytes transmit(DWORD protocol, const Bytes& command) {
    Bytes response(258);
    DWORD length = static_cast<DWORD>(response.size());
    const LONG rv = SCardTransmit(
        handle_, protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1, command.data(),
        static_cast<DWORD>(command.size()), nullptr, response.data(), &length);
    if (rv != SCARD_S_SUCCESS) return {};
    response.resize(length);
    return response;
  }

  PrivatePcscd daemon_;  // first member: outlives the client state below
  SCARDCONTEXT context_ = 0;
  SCARDHANDLE handle_ = 0;
};

TEST_F(PcscdWithVpcd, ListsBothSlotsOfThePrivateReader) {
  DWORD length = 0;
  ASSERT_EQ(SCardListReaders(context_, nullptr, nullptr, &length), SCARD_S_SUCCESS);
  std::string names(length, '\0');
  ASSERT_EQ(SCardListReaders(context_, nullptr, names.data(), &length), SCARD_S_SUCCESS);
  EXPECT_NE(names.find(daemon_.readerName(0) + '\0'), std::string::npos) << names;
  EXPECT_NE(names.find(daemon_.readerName(1) + '\0'), std::string::npos) << names;
  EXPECT_EQ(waitFor(0, false) & SCARD_STATE_EMPTY, DWORD{SCARD_STATE_EMPTY});
}

struct AtrCase {
  const char* name;
  AtrProtocols protocols;
  DWORD requested;
  DWORD activeProtocol;
};

class InsertedCard : public PcscdWithVpcd, public ::testing::WithParamInterface<AtrCase> {};

TEST_P(InsertedCard, ShowsItsAtrAndProtocol) {
  auto card = insertCard(GetParam().protocols);
  ASSERT_TRUE(waitFor(0, true) & SCARD_STATE_PRESENT);
  EXPECT_EQ(connect(0, GetParam().requested), GetParam().activeProtocol);

  char reader[128];
  DWORD readerLength = sizeof reader;
  DWORD state = 0;
  DWORD protocol = 0;
  BYTE atr[MAX_ATR_SIZE];
  DWORD atrLength = sizeof atr;
  ASSERT_EQ(SCardStatus(handle_, reader, &readerLength, &state, &protocol, atr, &atrLength),
            SCARD_S_SUCCESS);
  EXPECT_EQ(reader, daemon_.readerName(0));
  EXPECT_TRUE(state & SCARD_PRESENT);
  EXPECT_EQ(protocol, GetParam().activeProtocol);
  EXPECT_EQ(Bytes(atr, atr + atrLength), sim::readyAtr(GetParam().protocols));
}

INSTANTIATE_TEST_SUITE_P(
    PcscdWithVpcd, InsertedCard,
    ::testing::Values(
        AtrCase{"T0", AtrProtocols::kT0, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, SCARD_PROTOCOL_T0},
        AtrCase{"T1", AtrProtocols::kT1, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, SCARD_PROTOCOL_T1},
        // pcscd prefers T=1 when both are offered and allowed.
        AtrCase{"BothPreferT1", AtrProtocols::kT0AndT1, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                SCARD_PROTOCOL_T1},
        AtrCase{"BothAskedForT0", AtrProtocols::kT0AndT1, SCARD_PROTOCOL_T0, SCARD_PROTOCOL_T0}),
    [](const auto& info) { return info.param.name; });

TEST_F(PcscdWithVpcd, ReadsThePurseBalanceQuickly) {
  auto card = insertCard(AtrProtocols::kT1);
  ASSERT_TRUE(waitFor(0, true) & SCARD_STATE_PRESENT);
  const DWORD protocol = connect();

  EXPECT_EQ(transmit(protocol, kSelectPurse), (Bytes{0x90, 0x00}));
  EXPECT_EQ(transmit(protocol, {0x00, 0xCA, 0x00, 0x00, 0x00}), (Bytes{0x6D, 0x00}));
  const Bytes amounts{0x00, 0x12, 0x34, 0x02, 0x00, 0x00, 0x02, 0x00, 0x00, 0x90, 0x00};
  constexpr int kRounds = 20;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kRounds; ++i) ASSERT_EQ(transmit(protocol, kReadAmounts), amounts);
  const auto perApdu = (std::chrono::steady_clock::now() - start) / kRounds;
  RecordProperty(
      "apdu_round_trip_us",
      std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(perApdu).count()));
  // A delayed ACK on the card's socket would cost ~40 ms per command.
  EXPECT_LT(perApdu, 20ms);
}

TEST_F(PcscdWithVpcd, RemovedCardReadsAsAbsentAndCanComeBack) {
  auto card = insertCard(AtrProtocols::kT0AndT1);
  ASSERT_TRUE(waitFor(0, true) & SCARD_STATE_PRESENT);
  const DWORD protocol = connect();

  card->remove();
  EXPECT_TRUE(waitFor(0, false) & SCARD_STATE_EMPTY);
  DWORD state = 0;
  DWORD active = 0;
  DWORD atrLength = MAX_ATR_SIZE;
  BYTE atr[MAX_ATR_SIZE];
  EXPECT_EQ(SCardStatus(handle_, nullptr, nullptr, &state, &active, atr, &atrLength),
            static_cast<LONG>(SCARD_W_REMOVED_CARD));
  EXPECT_TRUE(transmit(protocol, kSelectPurse).empty());
  SCardDisconnect(handle_, SCARD_LEAVE_CARD);
  handle_ = 0;

  ASSERT_TRUE(card->insert(kInsertTimeout));
  ASSERT_TRUE(waitFor(0, true) & SCARD_STATE_PRESENT);
  EXPECT_EQ(transmit(connect(), kSelectPurse), (Bytes{0x90, 0x00}));
}

TEST_F(PcscdWithVpcd, EachSlotHasItsOwnPort) {
  auto card = insertCard(AtrProtocols::kT1, 1);
  ASSERT_TRUE(waitFor(1, true) & SCARD_STATE_PRESENT);
  EXPECT_TRUE(waitFor(0, false) & SCARD_STATE_EMPTY);
}

TEST(PrivatePcscd, StopEndsTheDaemonAndRemovesItsFiles) {
  PrivatePcscd daemon;
  const pid_t pid = daemon.pid();
  const std::filesystem::path socket = daemon.socketPath();
  ASSERT_TRUE(std::filesystem::exists(socket));
  EXPECT_THROW(PrivatePcscd second, std::logic_error);

  daemon.stop();
  EXPECT_FALSE(daemon.running());
  EXPECT_EQ(::kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  EXPECT_FALSE(std::filesystem::exists(socket.parent_path()));

  // The client library keeps the socket path it read first, so a new daemon
  // in the same process must be reachable there again.
  PrivatePcscd again;
  EXPECT_EQ(again.socketPath(), socket.string());
  SCARDCONTEXT context;
  ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context), SCARD_S_SUCCESS);
  SCardReleaseContext(context);
}

}  // namespace
}  // namespace k52::testing

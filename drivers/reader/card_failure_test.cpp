// Answers that must not pass for a success: whatever goes wrong in a card
// exchange, a PTS or a reset reaches the caller as an error.
#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "drivers/reader/test_reader_rig.h"

namespace k52::varnel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A terminal that answers each command by its command byte: the answers
// given for it in turn, the last one from then on. A command without
// answers stays unanswered.
class CannedFirmware final : public sim::TerminalFirmware {
 public:
  explicit CannedFirmware(std::map<std::uint8_t, std::vector<Bytes>> answers) {
    for (auto& [command, list] : answers) answers_[command].assign(list.begin(), list.end());
  }
  Bytes execute(std::span<const std::uint8_t> command) override {
    if (command.empty()) return {};
    auto it = answers_.find(command[0]);
    if (it == answers_.end() || it->second.empty()) return {};
    std::deque<Bytes>& list = it->second;
    Bytes answer = list.front();
    if (list.size() > 1) list.pop_front();
    return answer;
  }

 private:
  std::map<std::uint8_t, std::deque<Bytes>> answers_;
};

const Bytes kT0OnlyAtr = {0x3B, 0x00};
const Bytes kT1OnlyAtr = {0x3B, 0x80, 0x01, 0x81};
// Status answers: status byte, protocol, 00, card type.
const Bytes kPoweredT1 = {0x64, 0x1A, 0x01, 0x00, 0x03};
const Bytes kPoweredT0 = {0x64, 0x19, 0x00, 0x00, 0x03};
const Bytes kPoweredWithoutAtr = {0x64, 0x09, 0x00, 0x00, 0x03};
const Bytes kNoCard = {0x64, 0x00, 0x00, 0x00, 0x00};

// The terminal with a card of `atr`: status queries get `status`, card
// exchanges (PTS included) `exchange`.
std::map<std::uint8_t, std::vector<Bytes>> terminalWith(const Bytes& atr, std::vector<Bytes> status,
                                                        std::vector<Bytes> exchange) {
  Bytes reset = {0x64};
  reset.insert(reset.end(), atr.begin(), atr.end());
  return {{0x60, {{0x64}}}, {0x69, {{0x68, 0x60, 0x05}}},
          {0x61, {{0x64}}}, {0x62, {reset}},
          {0x63, {{0x64}}}, {0x64, {reset}},
          {0x65, status},   {0x67, exchange}};
}

TEST(ReaderFailure, AnAnswerTheExchangeCannotTakeFailsTheTransmit) {
  Bytes tooLong = {0x64};
  tooLong.resize(1 + 270, 0x90);
  struct Case {
    const char* what;
    Bytes atr;
    Bytes status;
    nt::ULONG protocol;
    Bytes answer;
  };
  const Case cases[] = {
      {"T=1, answer code 63", kT1OnlyAtr, kPoweredT1, nt::SCARD_PROTOCOL_T1, {0x63}},
      {"T=1, answer code 68", kT1OnlyAtr, kPoweredT1, nt::SCARD_PROTOCOL_T1, {0x68, 0x00}},
      {"T=0, 270 data bytes", kT0OnlyAtr, kPoweredT0, nt::SCARD_PROTOCOL_T0, tooLong},
      {"T=0, answer code 68", kT0OnlyAtr, kPoweredT0, nt::SCARD_PROTOCOL_T0, {0x68, 0x90, 0x00}},
  };
  for (const Case& c : cases) {
    CannedFirmware terminal(terminalWith(c.atr, {c.status}, {c.answer}));
    ReaderRig rig(terminal);
    ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS) << c.what;
    // A card of one protocol is switched to it at power-up.
    ASSERT_EQ(rig.state(), nt::SCARD_SPECIFIC) << c.what;
    const auto reply = rig.transmit(c.protocol, kReadBalance);
    EXPECT_EQ(reply.status, nt::STATUS_DEVICE_DATA_ERROR) << c.what;
    EXPECT_TRUE(reply.out.empty()) << c.what;
  }
}

TEST(ReaderFailure, AFailedPtsSelectsNothing) {
  CannedFirmware terminal(terminalWith(kT1OnlyAtr, {kPoweredT1}, {}));  // the PTS goes unanswered
  ReaderRig rig(terminal);
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  EXPECT_EQ(rig.state(), nt::SCARD_NEGOTIABLE);
  EXPECT_EQ(ReaderRig::ulongOf(rig.attribute(nt::SCARD_ATTR_CURRENT_PROTOCOL_TYPE).out),
            nt::SCARD_PROTOCOL_UNDEFINED);
  EXPECT_EQ(rig.setProtocol(nt::SCARD_PROTOCOL_T1).status, nt::STATUS_DEVICE_DATA_ERROR);
  EXPECT_EQ(rig.state(), nt::SCARD_NEGOTIABLE);
  // Asked again, the PTS is tried again rather than taken for done.
  EXPECT_EQ(rig.setProtocol(nt::SCARD_PROTOCOL_T1).status, nt::STATUS_DEVICE_DATA_ERROR);
}

TEST(ReaderFailure, AResetThatFindsNoCardFails) {
  struct Case {
    const char* what;
    nt::ULONG minor;
    std::vector<Bytes> status;
  };
  const Case cases[] = {
      // Creation's query, its power-up's two; the reset's two.
      {"card gone after a cold reset",
       nt::SCARD_COLD_RESET,
       {kPoweredT0, kPoweredT0, kNoCard, kPoweredT0, kNoCard}},
      {"no ATR after a cold reset", nt::SCARD_COLD_RESET, {kPoweredWithoutAtr}},
      {"no ATR after a warm reset", nt::SCARD_WARM_RESET, {kPoweredWithoutAtr}},
  };
  for (const Case& c : cases) {
    CannedFirmware terminal(terminalWith(kT0OnlyAtr, c.status, {{0x64, 0x90, 0x00}}));
    ReaderRig rig(terminal);
    ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS) << c.what;
    const auto reply = rig.power(c.minor);
    EXPECT_EQ(reply.status, nt::STATUS_UNRECOGNIZED_MEDIA) << c.what;
    EXPECT_TRUE(reply.out.empty()) << c.what;
    EXPECT_TRUE(rig.attribute(nt::SCARD_ATTR_ATR_STRING).out.empty()) << c.what;
  }
}

}  // namespace
}  // namespace k52::varnel

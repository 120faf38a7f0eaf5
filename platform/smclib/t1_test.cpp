// T=1 exchanges against a scripted card: each step is the block the reader
// must send and the card's answer (epilogues added by the script).
#include <gtest/gtest.h>

#include "platform/smclib/internal.h"
#include "platform/smclib/t1_block.h"
#include "platform/smclib/test_reader.h"

namespace k52::nt {
namespace {

using testing::bytes;
using testing::TestReader;

struct Step {
  const char* sent;      // prologue and information field
  const char* card;      // likewise; "" = the card says nothing useful
  bool corrupt = false;  // the card's epilogue arrives damaged
};

std::vector<UCHAR> withEdc(const char* hex, bool crc) {
  auto block = bytes(hex);
  const std::size_t length = block.size();
  block.resize(length + t1::edcLength(crc));
  t1::appendEdc(block, length, crc);
  return block;
}

// Runs one exchange as a reader driver does; the script must be used up.
NTSTATUS exchange(TestReader& r, const std::vector<Step>& script) {
  const bool crc = r.ext.CardCapabilities.T1.EDC & 1;
  std::size_t step = 0;
  NTSTATUS status;
  do {
    r.ext.SmartcardRequest.BufferLength = 0;
    status = SmartcardT1Request(&r.ext);
    if (status != STATUS_SUCCESS) return status;
    if (step == script.size()) {
      ADD_FAILURE() << "the reader goes on after the script";
      return STATUS_UNSUCCESSFUL;
    }
    EXPECT_EQ(r.sent(), withEdc(script[step].sent, crc)) << "step " << step;
    auto answer = withEdc(script[step].card, crc);
    if (script[step].corrupt) answer.back() ^= 0x01;
    r.receive(answer);
    ++step;
    status = SmartcardT1Reply(&r.ext);
  } while (status == STATUS_MORE_PROCESSING_REQUIRED);
  EXPECT_EQ(step, script.size());
  return status;
}

struct T1Case {
  const char* name;
  const char* apdu;
  std::vector<Step> script;
  const char* answer;
  UCHAR ifsc = 32;
  ULONG maxIfsd = 32;
  UCHAR edc = 0;
};

const T1Case kCases[] = {
    {"SingleBlocks",
     "00 B0 00 00 02",
     {{"00 00 05 00 B0 00 00 02", "00 00 04 AA BB 90 00"}},
     "AA BB 90 00"},
    {"ChainedCommand",
     "00 D6 00 00 03 AA BB CC",
     {{"00 20 04 00 D6 00 00", "00 90 00"}, {"00 40 04 03 AA BB CC", "00 00 02 90 00"}},
     "90 00",
     4},
    {"ChainedAnswer",
     "00 B0 00 00 06",
     {{"00 00 05 00 B0 00 00 06", "00 20 03 01 02 03"}, {"00 90 00", "00 40 05 04 05 06 90 00"}},
     "01 02 03 04 05 06 90 00"},
    {"BadEpilogueAskedAgainWithRBlock",
     "00 B0 00 00 02",
     {{"00 00 05 00 B0 00 00 02", "00 00 04 AA BB 90 00", true},
      {"00 81 00", "00 00 04 AA BB 90 00"}},
     "AA BB 90 00"},
    {"CardAsksForTheBlockAgain",
     "00 B0 00 00 02",
     {{"00 00 05 00 B0 00 00 02", "00 80 00"}, {"00 00 05 00 B0 00 00 02", "00 00 04 AA BB 90 00"}},
     "AA BB 90 00"},
    {"LostAcknowledgementWhileReceiving",
     "00 B0 00 00 04",
     {{"00 00 05 00 B0 00 00 04", "00 20 02 01 02"},
      {"00 90 00", "00 80 00"},  // the card did not get the R-block
      {"00 90 00", "00 40 04 03 04 90 00"}},
     "01 02 03 04 90 00"},
    {"ResyncAfterThreeErrors",
     "00 B0 00 00 02",
     {{"00 00 05 00 B0 00 00 02", "00 00 04 AA BB 90 00", true},
      {"00 81 00", "00 00 04 AA BB 90 00", true},
      {"00 81 00", "00 40 00"},  // wrong N(S)
      {"00 C0 00", "00 E0 00"},
      {"00 00 05 00 B0 00 00 02", "00 00 04 AA BB 90 00"}},
     "AA BB 90 00"},
    {"WaitingTimeExtension",
     "00 88 00 00 02 11 22",
     {{"00 00 07 00 88 00 00 02 11 22", "00 C3 01 03"}, {"00 E3 01 03", "00 00 02 90 00"}},
     "90 00"},
    {"CardChangesIfsc",
     "00 D6 00 00 03 AA BB CC",
     {{"00 00 08 00 D6 00 00 03 AA BB CC", "00 C1 01 04"}, {"00 E1 01 04", "00 00 02 90 00"}},
     "90 00"},
    {"ReaderAnnouncesIfsd",
     "00 B0 00 00 02",
     {{"00 C1 01 FE", "00 E1 01 FE"}, {"00 00 05 00 B0 00 00 02", "00 00 04 AA BB 90 00"}},
     "AA BB 90 00",
     32,
     254},
    {"CardIgnoringTheIfsRequestStillGetsTheCommand",
     "00 B0 00 00 02",
     {{"00 C1 01 FE", "00 82 00"}, {"00 00 05 00 B0 00 00 02", "00 00 04 AA BB 90 00"}},
     "AA BB 90 00",
     32,
     254},
    {"CrcEpilogue",
     "00 B0 00 00 02",
     {{"00 00 05 00 B0 00 00 02", "00 00 04 AA BB 90 00", true},
      {"00 81 00", "00 00 04 AA BB 90 00"}},
     "AA BB 90 00",
     32,
     32,
     1},
};

void PrintTo(const T1Case& c, std::ostream* os) {
  *os << c.name;
}

class T1Test : public ::testing::TestWithParam<T1Case> {};

TEST_P(T1Test, RunsTheExchange) {
  const T1Case& c = GetParam();
  TestReader r;
  r.ext.CardCapabilities.T1.IFSC = c.ifsc;
  r.ext.CardCapabilities.T1.EDC = c.edc;
  r.ext.T1.IFSC = c.ifsc;
  r.ext.ReaderCapabilities.MaxIFSD = c.maxIfsd;
  r.command(SCARD_PROTOCOL_T1, c.apdu);
  EXPECT_EQ(exchange(r, c.script), STATUS_SUCCESS);
  EXPECT_EQ(r.answer(), bytes(c.answer));
  EXPECT_EQ(r.ext.T1.Wtx, 0);
}

INSTANTIATE_TEST_SUITE_P(Exchanges, T1Test, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

class T1Link : public ::testing::Test {
 protected:
  T1Link() { r.command(SCARD_PROTOCOL_T1, "00 B0 00 00 02"); }
  TestReader r;
};

TEST_F(T1Link, SequenceNumbersAndNegotiatedSizesCarryOver) {
  r.ext.ReaderCapabilities.MaxIFSD = 254;
  ASSERT_EQ(
      exchange(r, {{"00 C1 01 FE", "00 E1 01 FE"}, {"00 00 05 00 B0 00 00 02", "00 00 02 90 00"}}),
      STATUS_SUCCESS);
  EXPECT_EQ(r.ext.T1.IFSD, 254);
  r.command(SCARD_PROTOCOL_T1, "00 B0 00 00 02");
  EXPECT_EQ(exchange(r, {{"00 40 05 00 B0 00 00 02", "00 40 02 90 00"}}), STATUS_SUCCESS);
  r.command(SCARD_PROTOCOL_T1, "00 B0 00 00 02");
  EXPECT_EQ(exchange(r, {{"00 00 05 00 B0 00 00 02", "00 00 02 90 00"}}), STATUS_SUCCESS);
}

TEST_F(T1Link, OnlyAnotherAtrStartsTheLinkAfresh) {
  const auto setAtr = [&](const char* hex) {
    const auto atr = bytes(hex);
    std::copy(atr.begin(), atr.end(), r.ext.CardCapabilities.ATR.Buffer);
    r.ext.CardCapabilities.ATR.Length = static_cast<UCHAR>(atr.size());
    ASSERT_EQ(SmartcardUpdateCardCapabilities(&r.ext), STATUS_SUCCESS);
  };
  ASSERT_NO_FATAL_FAILURE(setAtr("3B 80 01 81"));  // T=1, IFSC 32
  ASSERT_EQ(exchange(r, {{"00 00 05 00 B0 00 00 02", "00 00 02 90 00"}}), STATUS_SUCCESS);
  // A status poll reads the same card again: its link goes on.
  ASSERT_NO_FATAL_FAILURE(setAtr("3B 80 01 81"));
  r.command(SCARD_PROTOCOL_T1, "00 B0 00 00 02");
  EXPECT_EQ(exchange(r, {{"00 40 05 00 B0 00 00 02", "00 40 02 90 00"}}), STATUS_SUCCESS);
  // Another card: sequence numbers from 0.
  ASSERT_NO_FATAL_FAILURE(setAtr("3B 81 01 42 C2"));
  r.command(SCARD_PROTOCOL_T1, "00 B0 00 00 02");
  EXPECT_EQ(exchange(r, {{"00 00 05 00 B0 00 00 02", "00 00 02 90 00"}}), STATUS_SUCCESS);
}

TEST_F(T1Link, TheCardAskingForMoreTimeIsVisibleToTheDriver) {
  r.ext.SmartcardRequest.BufferLength = 0;
  ASSERT_EQ(SmartcardT1Request(&r.ext), STATUS_SUCCESS);
  r.receive(withEdc("00 C3 01 05", false));
  EXPECT_EQ(SmartcardT1Reply(&r.ext), STATUS_MORE_PROCESSING_REQUIRED);
  EXPECT_EQ(r.ext.T1.Wtx, 5);
}

TEST_F(T1Link, AHopelessCardEndsTheExchangeAndTheNextOneResynchronises) {
  // Three errors, then three resynchronisation requests answered with noise.
  std::vector<std::vector<UCHAR>> sent;
  NTSTATUS status;
  do {
    r.ext.SmartcardRequest.BufferLength = 0;
    ASSERT_EQ(SmartcardT1Request(&r.ext), STATUS_SUCCESS);
    sent.push_back(r.sent());
    r.receive(bytes("FF FF FF"));
    status = SmartcardT1Reply(&r.ext);
  } while (status == STATUS_MORE_PROCESSING_REQUIRED && sent.size() < 20);
  EXPECT_EQ(status, STATUS_DEVICE_PROTOCOL_ERROR);
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_EQ(sent[1], withEdc("00 82 00", false));
  EXPECT_EQ(sent[3], withEdc("00 C0 00", false));
  EXPECT_EQ(sent[5], withEdc("00 C0 00", false));
  r.command(SCARD_PROTOCOL_T1, "00 B0 00 00 02");
  EXPECT_EQ(exchange(r, {{"00 C0 00", "00 E0 00"}, {"00 00 05 00 B0 00 00 02", "00 00 02 90 00"}}),
            STATUS_SUCCESS);
}

TEST_F(T1Link, TheCardGivingUpIsAnsweredAndTheExchangeFails) {
  EXPECT_EQ(exchange(r, {{"00 00 05 00 B0 00 00 02", "00 C2 00"},  // S(ABORT request)
                         {"00 E2 00", "00 80 00"}}),               // S(ABORT response)
            STATUS_DEVICE_PROTOCOL_ERROR);
  EXPECT_EQ(r.information, 0u);
  r.command(SCARD_PROTOCOL_T1, "00 B0 00 00 02");
  EXPECT_EQ(exchange(r, {{"00 C0 00", "00 E0 00"}, {"00 00 05 00 B0 00 00 02", "00 00 02 90 00"}}),
            STATUS_SUCCESS);
}

TEST_F(T1Link, AnAbandonedExchangeIsFollowedByAResynchronisation) {
  r.ext.SmartcardRequest.BufferLength = 0;
  ASSERT_EQ(SmartcardT1Request(&r.ext), STATUS_SUCCESS);  // no answer ever comes
  EXPECT_EQ(exchange(r, {{"00 C0 00", "00 E0 00"}, {"00 00 05 00 B0 00 00 02", "00 00 02 90 00"}}),
            STATUS_SUCCESS);
}

TEST_F(T1Link, AnExchangeLeftAfterAnAnswerIsClosedByTheNextTransmit) {
  r.ext.SmartcardRequest.BufferLength = 0;
  ASSERT_EQ(SmartcardT1Request(&r.ext), STATUS_SUCCESS);
  r.receive(withEdc("00 C3 01 01", false));
  ASSERT_EQ(SmartcardT1Reply(&r.ext), STATUS_MORE_PROCESSING_REQUIRED);
  // The reader gives up here; a new transmit request comes in.
  smc::closeT1Exchange(&r.ext);
  r.command(SCARD_PROTOCOL_T1, "00 B0 00 00 02");
  EXPECT_EQ(exchange(r, {{"00 C0 00", "00 E0 00"}, {"00 00 05 00 B0 00 00 02", "00 00 02 90 00"}}),
            STATUS_SUCCESS);
}

TEST_F(T1Link, AnAnswerLargerThanTheCallersBufferIsRefused) {
  r.command(SCARD_PROTOCOL_T1, "00 B0 00 00 04", 4);
  EXPECT_EQ(exchange(r, {{"00 00 05 00 B0 00 00 04", "00 00 06 01 02 03 04 90 00"}}),
            STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(r.information, 0u);
}

TEST_F(T1Link, ARequestWithoutABlockSentIsRefused) {
  EXPECT_EQ(SmartcardT1Reply(&r.ext), STATUS_INVALID_DEVICE_STATE);
  r.ext.SmartcardRequest.BufferLength = r.ext.SmartcardRequest.BufferSize - 4;
  EXPECT_EQ(SmartcardT1Request(&r.ext), STATUS_BUFFER_TOO_SMALL);
}

}  // namespace
}  // namespace k52::nt

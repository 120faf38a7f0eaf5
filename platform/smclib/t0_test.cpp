// T=0 command TPDUs from APDUs of cases 1 to 4, and the check of answers.
#include <gtest/gtest.h>

#include "platform/smclib/test_reader.h"

namespace k52::nt {
namespace {

using testing::bytes;
using testing::TestReader;

struct T0Case {
  const char* name;
  const char* apdu;
  ULONG replyRoom;
  NTSTATUS requestStatus;
  const char* tpdu;
  const char* card;  // what the reader collected: data, SW1 SW2
  NTSTATUS replyStatus;
};

const T0Case kCases[] = {
    {"Case1", "00 A4 00 00", 300, STATUS_SUCCESS, "00 A4 00 00 00", "90 00", STATUS_SUCCESS},
    {"Case2", "00 B0 00 00 04", 300, STATUS_SUCCESS, "00 B0 00 00 04", "01 02 03 04 90 00",
     STATUS_SUCCESS},
    {"Case2ShortAnswer", "00 B0 00 00 04", 300, STATUS_SUCCESS, "00 B0 00 00 04", "6C 02",
     STATUS_SUCCESS},
    {"Case2Le256", "00 B0 00 00 00", 258, STATUS_SUCCESS, "00 B0 00 00 00", "90 00",
     STATUS_SUCCESS},
    {"Case3", "00 D6 00 00 02 AA BB", 300, STATUS_SUCCESS, "00 D6 00 00 02 AA BB", "90 00",
     STATUS_SUCCESS},
    {"Case4DropsLe", "00 A4 04 00 02 3F 00 10", 300, STATUS_SUCCESS, "00 A4 04 00 02 3F 00",
     "61 10", STATUS_SUCCESS},
    {"Case4AnsweredInFull", "00 A4 04 00 02 3F 00 10", 300, STATUS_SUCCESS, "00 A4 04 00 02 3F 00",
     "6F 10 84 01 90 00", STATUS_SUCCESS},
    // Refused before anything goes to the card.
    {"TooShort", "00 A4 00", 300, STATUS_INVALID_PARAMETER, "", "", 0},
    {"LcBeyondData", "00 D6 00 00 03 AA BB", 300, STATUS_INVALID_PARAMETER, "", "", 0},
    {"ExtendedLength", "00 D6 00 00 00 00 01 AA", 300, STATUS_INVALID_PARAMETER, "", "", 0},
    {"AnswerWouldNotFit", "00 B0 00 00 10", 17, STATUS_BUFFER_TOO_SMALL, "", "", 0},
    // Answers that no T=0 card gives.
    {"NoStatusWord", "00 A4 00 00", 300, STATUS_SUCCESS, "00 A4 00 00 00", "90",
     STATUS_DEVICE_PROTOCOL_ERROR},
    {"ProcedureByteAsSw1", "00 A4 00 00", 300, STATUS_SUCCESS, "00 A4 00 00 00", "60 00",
     STATUS_DEVICE_PROTOCOL_ERROR},
    {"NoSuchSw1", "00 A4 00 00", 300, STATUS_SUCCESS, "00 A4 00 00 00", "12 34",
     STATUS_DEVICE_PROTOCOL_ERROR},
    {"DataWithoutLe", "00 D6 00 00 02 AA BB", 300, STATUS_SUCCESS, "00 D6 00 00 02 AA BB",
     "01 90 00", STATUS_DEVICE_PROTOCOL_ERROR},
    {"MoreDataThanLe", "00 B0 00 00 02", 300, STATUS_SUCCESS, "00 B0 00 00 02", "01 02 03 90 00",
     STATUS_DEVICE_PROTOCOL_ERROR},
};

void PrintTo(const T0Case& c, std::ostream* os) {
  *os << c.name;
}

class T0Test : public ::testing::TestWithParam<T0Case> {};

TEST_P(T0Test, BuildsTheTpduAndChecksTheAnswer) {
  const T0Case& c = GetParam();
  TestReader r;
  r.command(SCARD_PROTOCOL_T0, c.apdu, c.replyRoom);
  // The driver keeps one byte of its own in front of the TPDU.
  r.libRequest[0] = 0x67;
  r.ext.SmartcardRequest.BufferLength = 1;
  ASSERT_EQ(SmartcardT0Request(&r.ext), c.requestStatus);
  if (c.requestStatus != STATUS_SUCCESS) {
    EXPECT_EQ(r.ext.SmartcardRequest.BufferLength, 1u);
    return;
  }
  auto expected = bytes(c.tpdu);
  expected.insert(expected.begin(), 0x67);
  EXPECT_EQ(r.sent(), expected);

  r.receive(bytes(c.card));
  EXPECT_EQ(SmartcardT0Reply(&r.ext), c.replyStatus);
  if (c.replyStatus == STATUS_SUCCESS) {
    EXPECT_EQ(r.answer(), bytes(c.card));
    SCARD_IO_REQUEST header;
    std::memcpy(&header, r.reply.data(), sizeof header);
    EXPECT_EQ(header.dwProtocol, SCARD_PROTOCOL_T0);
  } else {
    EXPECT_EQ(r.information, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Apdus, T0Test, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(T0Bounds, ATpduThatDoesNotFitTheLibraryBufferIsRefused) {
  TestReader r;
  r.command(SCARD_PROTOCOL_T0, "00 D6 00 00 02 AA BB");
  r.ext.SmartcardRequest.BufferLength = r.ext.SmartcardRequest.BufferSize - 6;
  EXPECT_EQ(SmartcardT0Request(&r.ext), STATUS_BUFFER_TOO_SMALL);
  // An answer longer than the caller's buffer is not copied.
  r.command(SCARD_PROTOCOL_T0, "00 A4 04 00 02 3F 00 10", 4);
  r.ext.SmartcardRequest.BufferLength = 0;
  ASSERT_EQ(SmartcardT0Request(&r.ext), STATUS_SUCCESS);
  r.receive(bytes("6F 10 84 01 90 00"));
  EXPECT_EQ(SmartcardT0Reply(&r.ext), STATUS_BUFFER_TOO_SMALL);
}

}  // namespace
}  // namespace k52::nt

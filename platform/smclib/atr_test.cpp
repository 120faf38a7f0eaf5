// ATR parsing into CardCapabilities.
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "platform/smclib/smclib.h"
#include "platform/text/hex.h"

namespace k52::nt {
namespace {

std::vector<UCHAR> bytes(std::string_view hex) {
  return text::parseHex(hex).value();
}

struct AtrCase {
  const char* name;
  const char* atr;
  NTSTATUS status;
  ULONG protocols;
  bool inverse;
  UCHAR fl, dl, n, wi, ifsc, bwi, cwi, edc;
  const char* historical;
};

// Defaults of a card whose ATR says nothing: Fl 1, Dl 1, N 0, WI 10,
// IFSC 32, BWI 4, CWI 13, LRC.
const AtrCase kCases[] = {
    {"T0OnlyWithTb1Tc1", "3B 6E 00 00 80 31 80 66 B0 84 0C 01 6E 01 83 00 90 00", STATUS_SUCCESS,
     SCARD_PROTOCOL_T0, false, 1, 1, 0, 10, 32, 4, 13, 0,
     "80 31 80 66 B0 84 0C 01 6E 01 83 00 90 00"},
    {"T0WaitingIntegerInTc2", "3B 80 40 14", STATUS_SUCCESS, SCARD_PROTOCOL_T0, false, 1, 1, 0, 20,
     32, 4, 13, 0, ""},
    {"T1WithTa1IfscAndBwi", "3B FA 13 00 00 81 31 FE 45 4A 43 4F 50 34 31 56 32 32 31 96",
     STATUS_SUCCESS, SCARD_PROTOCOL_T1, false, 1, 3, 0, 10, 254, 4, 5, 0,
     "4A 43 4F 50 34 31 56 32 32 31"},
    {"BothProtocolsWithCrc", "3B D5 18 02 80 71 80 52 01 01 02 03 04 05 EC", STATUS_SUCCESS,
     SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, false, 1, 8, 2, 10, 0x80, 5, 2, 1, "01 02 03 04 05"},
    {"InverseConventionDecoded", "3F 65 25 00 2C 09 69 90 00", STATUS_SUCCESS, SCARD_PROTOCOL_T0,
     true, 1, 1, 0, 10, 32, 4, 13, 0, "2C 09 69 90 00"},
    {"InverseConventionReadAsDirect", "03 59 5B FF CB 6F 69 F6 FF", STATUS_SUCCESS,
     SCARD_PROTOCOL_T0, true, 1, 1, 0, 10, 32, 4, 13, 0, "2C 09 69 90 00"},
    {"T0OnlyWithCorrectTck", "3B 02 14 50 46", STATUS_SUCCESS, SCARD_PROTOCOL_T0, false, 1, 1, 0,
     10, 32, 4, 13, 0, "14 50"},
    // Refused: the capabilities are those of a card that offers nothing.
    {"BadTck", "3B FA 13 00 00 81 31 FE 45 4A 43 4F 50 34 31 56 32 32 31 97",
     STATUS_UNRECOGNIZED_MEDIA, 0, false, 1, 1, 0, 10, 32, 4, 13, 0, ""},
    {"TruncatedHistoricalBytes", "3B FA 13 00 00 81 31 FE 45 4A 43 4F 50 34 31 56",
     STATUS_UNRECOGNIZED_MEDIA, 0, false, 1, 1, 0, 10, 32, 4, 13, 0, ""},
    {"TruncatedInterfaceBytes", "3B FA 13 00 00 81", STATUS_UNRECOGNIZED_MEDIA, 0, false, 1, 1, 0,
     10, 32, 4, 13, 0, ""},
    {"TsOnly", "3B", STATUS_UNRECOGNIZED_MEDIA, 0, false, 1, 1, 0, 10, 32, 4, 13, 0, ""},
    {"BadTs", "3C 02 14 50", STATUS_UNRECOGNIZED_MEDIA, 0, false, 1, 1, 0, 10, 32, 4, 13, 0, ""},
    {"TrailingGarbage", "3B 02 14 50 44 00", STATUS_UNRECOGNIZED_MEDIA, 0, false, 1, 1, 0, 10, 32,
     4, 13, 0, ""},
    {"LongerThan33Bytes",
     "3B 0F 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B "
     "1C 1D 1E 1F",
     STATUS_UNRECOGNIZED_MEDIA, 0, false, 1, 1, 0, 10, 32, 4, 13, 0, ""},
};

void PrintTo(const AtrCase& c, std::ostream* os) {
  *os << c.name;
}

class AtrTest : public ::testing::TestWithParam<AtrCase> {};

TEST_P(AtrTest, ParsesIntoCardCapabilities) {
  const AtrCase& c = GetParam();
  SMARTCARD_EXTENSION ext{};
  ext.ReaderCapabilities.CLKFrequency.Default = 3580;
  // What a previous card left must not survive.
  ext.CardCapabilities.Protocol.Supported = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;
  ext.CardCapabilities.T1.IFSC = 99;
  ext.T1.SSN = 1;
  const auto atr = bytes(c.atr);
  std::copy(atr.begin(), atr.end(), ext.CardCapabilities.ATR.Buffer);
  ext.CardCapabilities.ATR.Length = static_cast<UCHAR>(atr.size());

  EXPECT_EQ(SmartcardUpdateCardCapabilities(&ext), c.status);
  const SCARD_CARD_CAPABILITIES& caps = ext.CardCapabilities;
  EXPECT_EQ(caps.Protocol.Supported, c.protocols);
  EXPECT_EQ(caps.InversConvention, c.inverse ? TRUE : FALSE);
  EXPECT_EQ(caps.Fl, c.fl);
  EXPECT_EQ(caps.Dl, c.dl);
  EXPECT_EQ(caps.N, c.n);
  EXPECT_EQ(caps.T0.WI, c.wi);
  EXPECT_EQ(caps.T1.IFSC, c.ifsc);
  EXPECT_EQ(caps.T1.BWI, c.bwi);
  EXPECT_EQ(caps.T1.CWI, c.cwi);
  EXPECT_EQ(caps.T1.EDC, c.edc);
  EXPECT_EQ(std::vector<UCHAR>(caps.HistoricalChars.Buffer,
                               caps.HistoricalChars.Buffer + caps.HistoricalChars.Length),
            bytes(c.historical));
  // The T=1 link starts afresh with the card's IFSC.
  EXPECT_EQ(ext.T1.SSN, 0);
  EXPECT_EQ(ext.T1.IFSC, c.ifsc);
}

INSTANTIATE_TEST_SUITE_P(Atrs, AtrTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AtrTimes, FollowFromTa1AndTheReaderClock) {
  SMARTCARD_EXTENSION ext{};
  ext.ReaderCapabilities.CLKFrequency.Default = 3580;
  const auto atr = bytes("3B FA 13 00 00 81 31 FE 45 4A 43 4F 50 34 31 56 32 32 31 96");
  std::copy(atr.begin(), atr.end(), ext.CardCapabilities.ATR.Buffer);
  ext.CardCapabilities.ATR.Length = static_cast<UCHAR>(atr.size());
  ASSERT_EQ(SmartcardUpdateCardCapabilities(&ext), STATUS_SUCCESS);
  // Fi 372, Di 4 at 3.58 MHz: 25.98 us per etu, rounded up.
  EXPECT_EQ(ext.CardCapabilities.etu, 26u);
  EXPECT_EQ(ext.CardCapabilities.T1.CWT, (11u + 32u) * 26u);
  // 11 etu + 2^4 * 960 * 372 / 3.58 MHz
  EXPECT_EQ(ext.CardCapabilities.T1.BWT, 11u * 26u + 1596068u);
}

TEST(AtrEmpty, ClearsTheCapabilities) {
  SMARTCARD_EXTENSION ext{};
  ext.CardCapabilities.Protocol.Supported = SCARD_PROTOCOL_T1;
  EXPECT_EQ(SmartcardUpdateCardCapabilities(&ext), STATUS_SUCCESS);
  EXPECT_EQ(ext.CardCapabilities.Protocol.Supported, 0u);
}

}  // namespace
}  // namespace k52::nt

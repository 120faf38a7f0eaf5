// SmartcardUpdateCardCapabilities: the answer-to-reset of ISO/IEC 7816-3 into
// CardCapabilities.
#include <bit>
#include <cstring>

#include "platform/smclib/internal.h"

namespace k52::nt {
namespace {

constexpr ULONG kFi[16] = {372, 372, 558, 744,  1116, 1488, 1860, 0,
                           0,   512, 768, 1024, 1536, 2048, 0,    0};
constexpr ULONG kDi[16] = {0, 1, 2, 4, 8, 16, 32, 64, 12, 20, 0, 0, 0, 0, 0, 0};

constexpr UCHAR kDirect = 0x3B;
constexpr UCHAR kInverse = 0x3F;
constexpr UCHAR kInverseReadAsDirect = 0x03;
constexpr ULONG kFallbackClockKHz = 3580;

// A byte sent in inverse convention and received in direct convention,
// decoded: bit order reversed and levels inverted.
UCHAR fromInverse(UCHAR b) {
  UCHAR r = 0;
  for (int i = 0; i < 8; ++i) r = static_cast<UCHAR>(r | (((b >> i) & 1) << (7 - i)));
  return static_cast<UCHAR>(~r);
}

// Everything the ATR sets, at the values of a card whose ATR says nothing.
void setDefaults(SCARD_CARD_CAPABILITIES& caps) {
  caps.InversConvention = FALSE;
  caps.HistoricalChars.Length = 0;
  caps.Fl = 1;
  caps.Dl = 1;
  caps.II = 0;
  caps.P = 0;
  caps.N = 0;
  caps.Protocol.Supported = 0;
  caps.T0.WI = 10;
  caps.T1.IFSC = T1_IFSD_DEFAULT;
  caps.T1.CWI = 13;
  caps.T1.BWI = 4;
  caps.T1.EDC = 0;
}

ULONGLONG divideUp(ULONGLONG a, ULONGLONG b) {
  return (a + b - 1) / b;
}

void computeTimes(SCARD_CARD_CAPABILITIES& caps, ULONG clockKHz) {
  const ULONGLONG f = clockKHz ? clockKHz : kFallbackClockKHz;
  const ULONGLONG fi = smc::clockRateConversion(caps.Fl) ? smc::clockRateConversion(caps.Fl) : 372;
  const ULONGLONG di = smc::bitRateAdjustment(caps.Dl) ? smc::bitRateAdjustment(caps.Dl) : 1;
  const ULONGLONG etu = divideUp(fi * 1000, di * f);
  caps.etu = static_cast<ULONG>(etu);
  caps.GT = static_cast<ULONG>((12 + (caps.N == 0xFF ? 0 : caps.N)) * etu);
  caps.T0.WT = static_cast<ULONG>(divideUp(960ULL * caps.T0.WI * fi * 1000, f));
  caps.T1.BWT =
      static_cast<ULONG>(11 * etu + divideUp((1ULL << caps.T1.BWI) * 960 * 372 * 1000, f));
  caps.T1.CWT = static_cast<ULONG>((11 + (1ULL << caps.T1.CWI)) * etu);
  caps.T1.BGT = static_cast<ULONG>(22 * etu);
}

// Walks the ATR; false when it is not well formed.
bool parse(SCARD_CARD_CAPABILITIES& caps) {
  UCHAR* atr = caps.ATR.Buffer;
  const ULONG n = caps.ATR.Length;
  if (n < 2 || n > SCARD_ATR_LENGTH) return false;
  if (atr[0] == kInverseReadAsDirect) {
    for (ULONG i = 0; i < n; ++i) atr[i] = fromInverse(atr[i]);
  }
  if (atr[0] != kDirect && atr[0] != kInverse) return false;
  caps.InversConvention = atr[0] == kInverse;

  const ULONG historical = atr[1] & 0x0F;
  UCHAR y = atr[1];
  ULONG pos = 2;
  bool anyTd = false;
  bool tckPresent = false;
  int previousT = -1;  // protocol of TD(i-1); -1 before TD1
  bool t1Ta = false, t1Tb = false, t1Tc = false;
  for (int i = 1;; ++i) {
    const auto next = [&](UCHAR mask, int* value) {
      *value = -1;
      if ((y & mask) == 0) return true;
      if (pos >= n) return false;
      *value = atr[pos++];
      return true;
    };
    int ta, tb, tc;
    if (!next(0x10, &ta) || !next(0x20, &tb) || !next(0x40, &tc)) return false;
    if (i == 1) {
      if (ta >= 0) {
        caps.Fl = static_cast<UCHAR>(ta >> 4);
        caps.Dl = static_cast<UCHAR>(ta & 0x0F);
      }
      if (tb >= 0) {
        caps.II = static_cast<UCHAR>((tb >> 5) & 0x03);
        caps.P = static_cast<UCHAR>(tb & 0x1F);
      }
      if (tc >= 0) caps.N = static_cast<UCHAR>(tc);
    } else if (i == 2) {
      if (tb >= 0) caps.P = static_cast<UCHAR>(tb);
      if (tc >= 0 && tc != 0) caps.T0.WI = static_cast<UCHAR>(tc);
    } else if (previousT == 1) {
      // The first TA, TB and TC for T=1 count; 0x00 and 0xFF are no IFSC.
      if (ta >= 0 && !t1Ta) {
        t1Ta = true;
        if (ta != 0x00 && ta != 0xFF) caps.T1.IFSC = static_cast<UCHAR>(ta);
      }
      if (tb >= 0 && !t1Tb) {
        t1Tb = true;
        caps.T1.CWI = static_cast<UCHAR>(tb & 0x0F);
        caps.T1.BWI = static_cast<UCHAR>(std::min(tb >> 4, 9));
      }
      if (tc >= 0 && !t1Tc) {
        t1Tc = true;
        caps.T1.EDC = static_cast<UCHAR>(tc & 0x01);
      }
    }
    if ((y & 0x80) == 0) break;
    if (pos >= n) return false;
    y = atr[pos++];
    anyTd = true;
    previousT = y & 0x0F;
    if (previousT == 0) caps.Protocol.Supported |= SCARD_PROTOCOL_T0;
    if (previousT == 1) caps.Protocol.Supported |= SCARD_PROTOCOL_T1;
    if (previousT != 0) tckPresent = true;
  }
  if (!anyTd) caps.Protocol.Supported = SCARD_PROTOCOL_T0;

  if (pos + historical > n) return false;
  std::memcpy(caps.HistoricalChars.Buffer, atr + pos, historical);
  caps.HistoricalChars.Length = static_cast<UCHAR>(historical);
  pos += historical;

  // A T=0-only card may still send a TCK; it then has to check out too.
  if (!tckPresent && pos + 1 == n) tckPresent = true;
  if (tckPresent) {
    if (pos + 1 != n) return false;
    UCHAR check = 0;
    for (ULONG i = 1; i < n; ++i) check ^= atr[i];
    if (check != 0) return false;
    ++pos;
  }
  return pos == n;
}

}  // namespace

namespace smc {

ULONG clockRateConversion(UCHAR Fl) {
  return kFi[Fl & 0x0F];
}

ULONG bitRateAdjustment(UCHAR Dl) {
  return kDi[Dl & 0x0F];
}

}  // namespace smc

NTSTATUS SmartcardUpdateCardCapabilities(PSMARTCARD_EXTENSION SmartcardExtension) {
  SCARD_CARD_CAPABILITIES& caps = SmartcardExtension->CardCapabilities;
  // Read before the parse, which may decode the ATR in place.
  const bool sameCard = smc::t1LinkBelongsToAtr(*SmartcardExtension);
  NTSTATUS status = STATUS_SUCCESS;
  setDefaults(caps);
  if (caps.ATR.Length != 0 && !parse(caps)) {
    setDefaults(caps);
    status = STATUS_UNRECOGNIZED_MEDIA;
  }
  computeTimes(caps, SmartcardExtension->ReaderCapabilities.CLKFrequency.Default);
  if (!sameCard) smc::resetT1(SmartcardExtension);
  return status;
}

}  // namespace k52::nt

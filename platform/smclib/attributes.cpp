// The standard attributes, answered from the vendor attributes, the reader
// capabilities and the card capabilities.
#include <cstring>

#include "platform/smclib/attributes.h"
#include "platform/smclib/internal.h"

namespace k52::nt::smc {
namespace {

struct UlongAttribute {
  ULONG tag;
  ULONG (*value)(const SMARTCARD_EXTENSION& ext);
};

constexpr UlongAttribute kUlongAttributes[] = {
    {SCARD_ATTR_VENDOR_IFD_VERSION,
     [](const SMARTCARD_EXTENSION& e) -> ULONG {
       const auto& v = e.VendorAttr.IfdVersion;
       return (ULONG{v.VersionMajor} << 24) | (ULONG{v.VersionMinor} << 16) | v.BuildNumber;
     }},
    {SCARD_ATTR_CHANNEL_ID,
     [](const SMARTCARD_EXTENSION& e) -> ULONG {
       return (e.ReaderCapabilities.ReaderType << 16) | (e.ReaderCapabilities.Channel & 0xFFFF);
     }},
    {SCARD_ATTR_DEVICE_UNIT, [](const SMARTCARD_EXTENSION& e) { return e.VendorAttr.UnitNo; }},
    {SCARD_ATTR_PROTOCOL_TYPES,
     [](const SMARTCARD_EXTENSION& e) { return e.ReaderCapabilities.SupportedProtocols; }},
    {SCARD_ATTR_DEFAULT_CLK,
     [](const SMARTCARD_EXTENSION& e) { return e.ReaderCapabilities.CLKFrequency.Default; }},
    {SCARD_ATTR_MAX_CLK,
     [](const SMARTCARD_EXTENSION& e) { return e.ReaderCapabilities.CLKFrequency.Max; }},
    {SCARD_ATTR_DEFAULT_DATA_RATE,
     [](const SMARTCARD_EXTENSION& e) { return e.ReaderCapabilities.DataRate.Default; }},
    {SCARD_ATTR_MAX_DATA_RATE,
     [](const SMARTCARD_EXTENSION& e) { return e.ReaderCapabilities.DataRate.Max; }},
    {SCARD_ATTR_MAX_IFSD,
     [](const SMARTCARD_EXTENSION& e) { return e.ReaderCapabilities.MaxIFSD; }},
    {SCARD_ATTR_POWER_MGMT_SUPPORT,
     [](const SMARTCARD_EXTENSION& e) { return e.ReaderCapabilities.PowerMgmtSupport; }},
    {SCARD_ATTR_CHARACTERISTICS,
     [](const SMARTCARD_EXTENSION& e) { return e.ReaderCapabilities.MechProperties; }},
    {SCARD_ATTR_ICC_PRESENCE,
     [](const SMARTCARD_EXTENSION& e) -> ULONG {
       return e.ReaderCapabilities.CurrentState > SCARD_ABSENT ? 1 : 0;
     }},
    {SCARD_ATTR_ICC_INTERFACE_STATUS,
     [](const SMARTCARD_EXTENSION& e) -> ULONG {
       return e.ReaderCapabilities.CurrentState >= SCARD_POWERED ? 1 : 0;
     }},
    {SCARD_ATTR_CURRENT_PROTOCOL_TYPE,
     [](const SMARTCARD_EXTENSION& e) { return e.CardCapabilities.Protocol.Selected; }},
    {SCARD_ATTR_CURRENT_CLK,
     [](const SMARTCARD_EXTENSION& e) { return e.ReaderCapabilities.CLKFrequency.Default; }},
    {SCARD_ATTR_CURRENT_F,
     [](const SMARTCARD_EXTENSION& e) { return clockRateConversion(e.CardCapabilities.Fl); }},
    {SCARD_ATTR_CURRENT_D,
     [](const SMARTCARD_EXTENSION& e) { return bitRateAdjustment(e.CardCapabilities.Dl); }},
    {SCARD_ATTR_CURRENT_N,
     [](const SMARTCARD_EXTENSION& e) -> ULONG { return e.CardCapabilities.N; }},
    {SCARD_ATTR_CURRENT_W,
     [](const SMARTCARD_EXTENSION& e) -> ULONG { return e.CardCapabilities.T0.WI; }},
    {SCARD_ATTR_CURRENT_IFSC, [](const SMARTCARD_EXTENSION& e) -> ULONG { return e.T1.IFSC; }},
    {SCARD_ATTR_CURRENT_IFSD, [](const SMARTCARD_EXTENSION& e) -> ULONG { return e.T1.IFSD; }},
    {SCARD_ATTR_CURRENT_BWT,
     [](const SMARTCARD_EXTENSION& e) { return e.CardCapabilities.T1.BWT; }},
    {SCARD_ATTR_CURRENT_CWT,
     [](const SMARTCARD_EXTENSION& e) { return e.CardCapabilities.T1.CWT; }},
    {SCARD_ATTR_CURRENT_EBC_ENCODING,
     [](const SMARTCARD_EXTENSION& e) -> ULONG { return e.CardCapabilities.T1.EDC; }},
    {SCARD_ATTR_SUPRESS_T1_IFS_REQUEST,
     [](const SMARTCARD_EXTENSION& e) -> ULONG { return e.T1.NoIfsRequest; }},
};

NTSTATUS answer(const void* value, ULONG length, std::span<UCHAR> out, ULONG_PTR* written) {
  if (out.size() < length) return STATUS_BUFFER_TOO_SMALL;
  std::memmove(out.data(), value, length);
  *written = length;
  return STATUS_SUCCESS;
}

template <typename String>
NTSTATUS answerString(const String& s, std::span<UCHAR> out, ULONG_PTR* written) {
  return answer(s.Buffer, std::min<ULONG>(s.Length, sizeof s.Buffer), out, written);
}

}  // namespace

NTSTATUS getAttribute(const SMARTCARD_EXTENSION& ext, ULONG tag, std::span<UCHAR> out,
                      ULONG_PTR* written) {
  switch (tag) {
    case SCARD_ATTR_VENDOR_NAME:
      return answerString(ext.VendorAttr.VendorName, out, written);
    case SCARD_ATTR_VENDOR_IFD_TYPE:
      return answerString(ext.VendorAttr.IfdType, out, written);
    case SCARD_ATTR_VENDOR_IFD_SERIAL_NO:
      return answerString(ext.VendorAttr.IfdSerialNo, out, written);
    case SCARD_ATTR_ATR_STRING:
      if (ext.CardCapabilities.ATR.Length == 0) return STATUS_INVALID_DEVICE_STATE;
      return answerString(ext.CardCapabilities.ATR, out, written);
    default:
      break;
  }
  for (const UlongAttribute& a : kUlongAttributes) {
    if (a.tag != tag) continue;
    const ULONG value = a.value(ext);
    return answer(&value, sizeof value, out, written);
  }
  return STATUS_NOT_SUPPORTED;
}

NTSTATUS setAttribute(PSMARTCARD_EXTENSION ext, ULONG tag, std::span<const UCHAR> value) {
  if (tag != SCARD_ATTR_SUPRESS_T1_IFS_REQUEST) return STATUS_NOT_SUPPORTED;
  // Without a value the request is suppressed; a value of 0 allows it again.
  ULONG on = 1;
  if (value.size() >= sizeof on) std::memcpy(&on, value.data(), sizeof on);
  ext->T1.NoIfsRequest = on ? TRUE : FALSE;
  return STATUS_SUCCESS;
}

}  // namespace k52::nt::smc

// The terminal's capability answer (command 0x69): a tagged list that
// overrides the reader's identity and capabilities.
#include <cstring>

#include "drivers/reader/reader.h"

namespace k52::varnel {
namespace {

ULONG little(const UCHAR* value, ULONG length) {
  ULONG result = 0;
  for (ULONG i = length; i-- > 0;) result = (result << 8) | value[i];
  return result;
}

// Copies up to the attribute buffer's size; a longer value is cut.
void setString(decltype(VENDOR_ATTR::VendorName)& target, const UCHAR* value, ULONG length,
               bool terminate) {
  const ULONG room = sizeof target.Buffer - (terminate ? 1 : 0);
  const ULONG n = length < room ? length : room;
  std::memcpy(target.Buffer, value, n);
  if (terminate) target.Buffer[n] = 0;
  target.Length = static_cast<USHORT>(n + (terminate ? 1 : 0));
}

void appendString(decltype(VENDOR_ATTR::VendorName)& target, const UCHAR* value, ULONG length) {
  const ULONG used = target.Length < sizeof target.Buffer ? target.Length : sizeof target.Buffer;
  const ULONG room = sizeof target.Buffer - used;
  const ULONG n = length < room ? length : room;
  std::memcpy(target.Buffer + used, value, n);
  target.Length = static_cast<USHORT>(used + n);
}

}  // namespace

NTSTATUS ParseCapabilities(PSMARTCARD_EXTENSION sc, const UCHAR* answer, ULONG length) {
  if (length < 5 || answer[2] != kAnswerCapabilities || answer[3] != 0x60) {
    return STATUS_DEVICE_DATA_ERROR;
  }
  const ULONG n = answer[4];
  VENDOR_ATTR& vendor = sc->VendorAttr;
  SCARD_READER_CAPABILITIES& caps = sc->ReaderCapabilities;
  bool vendorNameSeen = false;
  ULONG offset = 0;
  // Entries are read while 5 + offset < n, and never past what arrived.
  while (5 + offset < n && 5 + offset + 2 <= length) {
    const UCHAR tag = answer[5 + offset];
    const ULONG entryLength = answer[5 + offset + 1];
    const UCHAR* value = answer + 5 + offset + 2;
    offset += entryLength + 2;
    if (5 + offset > length) break;  // the entry runs past the answer
    switch (tag) {
      case 0x00:
        if (!vendorNameSeen) setString(vendor.VendorName, value, entryLength, true);
        vendorNameSeen = true;
        break;
      case 0x01:
        setString(vendor.IfdType, value, entryLength, false);
        break;
      case 0x02:
        appendString(vendor.IfdType, value, entryLength);
        break;
      case 0x03:
        setString(vendor.IfdSerialNo, value, entryLength, false);
        break;
      case 0x10:
        if (entryLength != 4) break;
        if (little(value, 4) == 0x01000100) caps.ReaderType = SCARD_READER_TYPE_SERIAL;
        if (little(value, 4) == 0x00000400) caps.ReaderType = SCARD_READER_TYPE_KEYBOARD;
        break;
      case 0x20:
        if (entryLength == 4) caps.SupportedProtocols = little(value, 4);
        break;
      case 0x21:
        if (entryLength == 2) caps.CLKFrequency.Default = little(value, 2);
        break;
      case 0x22:
        if (entryLength == 2) caps.CLKFrequency.Max = little(value, 2);
        break;
      case 0x23:
        if (entryLength == 2) caps.DataRate.Default = little(value, 2);
        break;
      case 0x24:
        if (entryLength == 2) caps.DataRate.Max = little(value, 2);
        break;
      case 0x25:
        if (entryLength == 2) {
          const ULONG ifsd = little(value, 2);
          caps.MaxIFSD = ifsd < 254 ? ifsd : 254;
        }
        break;
      case 0x26:
        if (entryLength == 4) caps.Reserved = little(value, 4) & 0xFFFF;
        break;
      case 0x31:
        if (entryLength == 1) caps.PowerMgmtSupport = value[0];
        break;
      default:
        break;
    }
  }
  return STATUS_SUCCESS;
}

}  // namespace k52::varnel

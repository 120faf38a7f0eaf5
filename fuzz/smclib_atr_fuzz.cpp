// Arbitrary ATR bytes, and an arbitrary claimed length, into
// SmartcardUpdateCardCapabilities. Nothing may be read or written outside
// the capabilities, and what it reports must stay within its fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/smclib/smclib.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace k52::nt;
  if (size == 0) return 0;
  SMARTCARD_EXTENSION ext{};
  ext.ReaderCapabilities.CLKFrequency.Default = data[0] & 1 ? 0 : 1;  // also the fallback clock
  auto& atr = ext.CardCapabilities.ATR;
  const std::size_t n = std::min(size - 1, sizeof atr.Buffer);
  std::memcpy(atr.Buffer, data + 1, n);
  // The driver might claim more than it stored.
  atr.Length = static_cast<UCHAR>(data[0] & 2 ? n : data[0]);
  const NTSTATUS status = SmartcardUpdateCardCapabilities(&ext);
  const auto& caps = ext.CardCapabilities;
  if (status != STATUS_SUCCESS && status != STATUS_UNRECOGNIZED_MEDIA) std::abort();
  if (caps.HistoricalChars.Length > 15) std::abort();
  if (caps.Protocol.Supported & ~SCARD_PROTOCOL_Tx) std::abort();
  if (caps.T1.IFSC == 0 || caps.T1.IFSC == 0xFF || caps.T1.BWI > 9) std::abort();
  if (status == STATUS_SUCCESS && atr.Length > SCARD_ATR_LENGTH) std::abort();
  return 0;
}

// What the library's parts share among themselves.
#pragma once

#include <cstdint>
#include <span>

#include "platform/smclib/smclib.h"

namespace k52::nt::smc {

// Fi and Di of ISO/IEC 7816-3 by their TA1 indices; 0 for the reserved ones.
ULONG clockRateConversion(UCHAR Fl);
ULONG bitRateAdjustment(UCHAR Dl);

// The T=1 link back to its state after an ATR: sequence numbers 0, IFSC
// from the ATR, IFSD 32 until negotiated, no exchange running; it now
// belongs to the ATR in CardCapabilities.
void resetT1(PSMARTCARD_EXTENSION ext);
// Whether the T=1 link was started for the ATR in CardCapabilities.
bool t1LinkBelongsToAtr(const SMARTCARD_EXTENSION& ext);
// A new transmit request begins: an exchange its reader left open was
// abandoned, and the next one starts by resynchronising.
void closeT1Exchange(PSMARTCARD_EXTENSION ext);

// The data of a transmit request (after its SCARD_IO_REQUEST header), or an
// empty span with *status set when the header does not fit the buffer.
std::span<const UCHAR> requestData(const SMARTCARD_EXTENSION& ext, NTSTATUS* status);
// The part of the reply buffer after the header; empty when it has none.
std::span<UCHAR> replyData(const SMARTCARD_EXTENSION& ext);
// Writes the header of the answer (the selected protocol) and sets the
// request's byte count to the header plus `length`.
void finishReply(PSMARTCARD_EXTENSION ext, ULONG length);

// Free room of a library buffer from BufferLength on; empty when the length
// is beyond the size.
std::span<UCHAR> freeRoom(SMARTCARD_REQUEST& buffer);
// The bytes in use of a library buffer, bounded by its size.
std::span<const UCHAR> usedBytes(const SMARTCARD_REPLY& buffer);

}  // namespace k52::nt::smc

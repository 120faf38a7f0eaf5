// Answers to IOCTL_SMARTCARD_GET_ATTRIBUTE and _SET_ATTRIBUTE for the
// standard (not vendor-defined) attributes.
#pragma once

#include <span>

#include "platform/smclib/smclib.h"

namespace k52::nt::smc {

// Writes the attribute's value to `out` and its length to *written.
// STATUS_BUFFER_TOO_SMALL when it does not fit, STATUS_NOT_SUPPORTED for a
// tag the library does not know.
NTSTATUS getAttribute(const SMARTCARD_EXTENSION& ext, ULONG tag, std::span<UCHAR> out,
                      ULONG_PTR* written);
NTSTATUS setAttribute(PSMARTCARD_EXTENSION ext, ULONG tag, std::span<const UCHAR> value);

}  // namespace k52::nt::smc

// What the handler's entry points answer pcscd for each outcome of a reader
// request: one table, so that every entry point keeps to the same contract.
#pragma once

#include "drivers/ifd/ifd_reader.h"

namespace k52::ifd {

// The entry points that pass a reader outcome on.
enum class Entry { kGetCapabilities, kSetProtocolParameters, kPowerICC, kTransmitToICC, kControl };

// The RESPONSECODE of ifdhandler.h for `outcome` of a request made for `entry`.
long responseCode(Entry entry, Outcome outcome);

}  // namespace k52::ifd

#include "drivers/ifd/response_code.h"

extern "C" {
#include <ifdhandler.h>
}

#include <array>
#include <cstddef>

namespace k52::ifd {
namespace {

constexpr std::size_t kEntries = 5;
constexpr std::size_t kOutcomes = 6;

// Rows in the order of Outcome, columns in the order of Entry. A protocol
// that could not be set is a failed PTS whatever the cause, a power request
// that failed a failed power action; pcscd tells a time-out from both.
constexpr std::array<std::array<RESPONSECODE, kEntries>, kOutcomes> kCodes{{
    //  GetCapabilities             SetProtocolParameters       PowerICC
    //  TransmitToICC               Control
    {IFD_SUCCESS, IFD_SUCCESS, IFD_SUCCESS, IFD_SUCCESS, IFD_SUCCESS},  // kSuccess
    {IFD_ERROR_INSUFFICIENT_BUFFER, IFD_ERROR_PTS_FAILURE, IFD_ERROR_INSUFFICIENT_BUFFER,
     IFD_ERROR_INSUFFICIENT_BUFFER, IFD_ERROR_INSUFFICIENT_BUFFER},  // kBufferTooSmall
    {IFD_ERROR_TAG, IFD_PROTOCOL_NOT_SUPPORTED, IFD_ERROR_POWER_ACTION, IFD_NOT_SUPPORTED,
     IFD_ERROR_NOT_SUPPORTED},  // kNotSupported
    {IFD_RESPONSE_TIMEOUT, IFD_ERROR_PTS_FAILURE, IFD_RESPONSE_TIMEOUT, IFD_RESPONSE_TIMEOUT,
     IFD_RESPONSE_TIMEOUT},  // kTimeout
    {IFD_ICC_NOT_PRESENT, IFD_ERROR_PTS_FAILURE, IFD_ERROR_POWER_ACTION, IFD_ICC_NOT_PRESENT,
     IFD_ICC_NOT_PRESENT},  // kNoCard
    {IFD_COMMUNICATION_ERROR, IFD_ERROR_PTS_FAILURE, IFD_ERROR_POWER_ACTION,
     IFD_COMMUNICATION_ERROR, IFD_COMMUNICATION_ERROR},  // kFailed
}};

static_assert(static_cast<std::size_t>(Outcome::kFailed) + 1 == kOutcomes);
static_assert(static_cast<std::size_t>(Entry::kControl) + 1 == kEntries);

}  // namespace

long responseCode(Entry entry, Outcome outcome) {
  return kCodes[static_cast<std::size_t>(outcome)][static_cast<std::size_t>(entry)];
}

}  // namespace k52::ifd

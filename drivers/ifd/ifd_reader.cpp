#include "drivers/ifd/ifd_reader.h"

#include <algorithm>
#include <cstring>

#include "drivers/ifd/card_tracker.h"
#include "drivers/ifd/handler_log.h"
#include "drivers/ifd/pin_pad.h"
#include "drivers/ifd/reader_host.h"
#include "drivers/reader/varnel.h"
#include "platform/nt/status_name/status_name.h"
#include "platform/smclib/smclib.h"

namespace k52::ifd {
namespace {

// The protocol header in front of a transmit request and its answer.
constexpr std::size_t kIoHeader = 8;
// Beyond what the reader's 1048-byte link buffers can carry anyway.
constexpr std::size_t kLargestReply = 2048;
constexpr std::size_t kAtrCapacity = 64;
// varnel's card-changed flag.
constexpr std::uint32_t kAttrIccPresented = 0x7AEEE;

Outcome outcomeOf(nt::NTSTATUS status) {
  switch (status) {
    case nt::STATUS_SUCCESS:
      return Outcome::kSuccess;
    case nt::STATUS_BUFFER_TOO_SMALL:
      return Outcome::kBufferTooSmall;
    case nt::STATUS_NOT_SUPPORTED:
    case nt::STATUS_INVALID_DEVICE_REQUEST:
      return Outcome::kNotSupported;
    case nt::STATUS_IO_TIMEOUT:
    case nt::STATUS_TIMEOUT:
      return Outcome::kTimeout;
    case nt::STATUS_NO_MEDIA:
    case nt::STATUS_INVALID_DEVICE_STATE:
      return Outcome::kNoCard;
    default:
      return Outcome::kFailed;
  }
}

// The outcome of varnel's answer to `request`; a failure is logged with the
// status varnel gave, which the handler's response code no longer shows.
Outcome outcomeOf(const char* request, nt::NTSTATUS status) {
  if (!nt::NT_SUCCESS(status)) {
    logMessage(LogPriority::kDebug, std::string(request) + ": " + nt::statusName(status));
  }
  return outcomeOf(status);
}

std::vector<std::uint8_t> ulong(nt::ULONG value) {
  std::vector<std::uint8_t> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

}  // namespace

IfdReader::IfdReader(win32::Prefix prefix, const KeyboardSource& keyboard)
    : host_(std::make_unique<ReaderHost>(std::move(prefix), keyboard)),
      tracker_(std::make_unique<CardTracker>(*host_)) {}

IfdReader::~IfdReader() {
  host_->closeHandle();
  tracker_->join();
  host_->close();
}

Outcome IfdReader::power(PowerAction action, std::vector<std::uint8_t>& atr) {
  const nt::ULONG minor = action == PowerAction::kUp     ? nt::SCARD_COLD_RESET
                          : action == PowerAction::kDown ? nt::SCARD_POWER_DOWN
                                                         : nt::SCARD_WARM_RESET;
  atr.assign(kAtrCapacity, 0);
  const auto reply = host_->control(nt::IOCTL_SMARTCARD_POWER, ulong(minor), atr);
  atr.resize(nt::NT_SUCCESS(reply.status) && action != PowerAction::kDown ? reply.bytes : 0);
  return outcomeOf("power", reply.status);
}

Outcome IfdReader::setProtocol(std::uint32_t mask) {
  std::uint8_t selected[4];
  return outcomeOf("set protocol",
                   host_->control(nt::IOCTL_SMARTCARD_SET_PROTOCOL, ulong(mask), selected).status);
}

Outcome IfdReader::transmit(std::uint32_t mask, std::span<const std::uint8_t> apdu,
                            std::vector<std::uint8_t>& answer, std::size_t capacity) {
  std::vector<std::uint8_t> in = ulong(mask);
  const auto headerLength = ulong(kIoHeader);
  in.insert(in.end(), headerLength.begin(), headerLength.end());
  in.insert(in.end(), apdu.begin(), apdu.end());
  std::vector<std::uint8_t> out(kIoHeader + std::min(capacity, kLargestReply));
  const auto reply = host_->control(nt::IOCTL_SMARTCARD_TRANSMIT, in, out);
  answer.clear();
  if (!nt::NT_SUCCESS(reply.status)) return outcomeOf("transmit", reply.status);
  if (reply.bytes < kIoHeader) return Outcome::kFailed;
  answer.assign(out.begin() + kIoHeader, out.begin() + static_cast<std::ptrdiff_t>(reply.bytes));
  return Outcome::kSuccess;
}

Outcome IfdReader::attribute(std::uint32_t tag, std::vector<std::uint8_t>& value,
                             std::size_t capacity) {
  value.clear();
  // The library hands every other vendor-defined attribute to the reader's
  // vendor request, which would send the terminal whatever PIN command
  // frame it last staged: only the card-changed attribute goes through.
  if (nt::SCARD_ATTR_CLASS(tag) == nt::SCARD_CLASS_VENDOR_DEFINED && tag != kAttrIccPresented) {
    return Outcome::kNotSupported;
  }
  value.assign(std::min(capacity, kLargestReply), 0);
  const auto reply = host_->control(nt::IOCTL_SMARTCARD_GET_ATTRIBUTE, ulong(tag), value);
  value.resize(nt::NT_SUCCESS(reply.status) ? reply.bytes : 0);
  return outcomeOf("get attribute", reply.status);
}

Outcome IfdReader::control(std::uint32_t code, std::span<const std::uint8_t> in,
                           std::vector<std::uint8_t>& out, std::size_t capacity) {
  out.clear();
  std::optional<std::vector<std::uint8_t>> request;
  if (code == kGetFeatureRequest) {
    const auto features = featureList();
    if (features.size() > capacity) return Outcome::kBufferTooSmall;
    out = features;
    return Outcome::kSuccess;
  } else if (code == varnel::IOCTL_VARNEL_VENDOR) {
    request.emplace(in.begin(), in.end());
  } else if (code == kVerifyPinDirect) {
    request = verifyRequest(in);
  } else if (code == kModifyPinDirect) {
    request = modifyRequest(in);
  } else {
    return Outcome::kNotSupported;
  }
  if (!request) return Outcome::kFailed;  // a structure the terminal cannot serve
  out.assign(std::min(capacity, kLargestReply), 0);
  const auto reply = host_->control(varnel::IOCTL_VARNEL_VENDOR, *request, out);
  out.resize(nt::NT_SUCCESS(reply.status) ? reply.bytes : 0);
  return outcomeOf("vendor request", reply.status);
}

bool IfdReader::present() {
  return tracker_->present();
}

void IfdReader::waitForChange(std::chrono::milliseconds timeout) {
  tracker_->waitForChange(timeout);
}

void IfdReader::wakeWaiting() {
  tracker_->wake();
}

}  // namespace k52::ifd

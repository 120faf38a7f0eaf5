#include "platform/nt/status_name/status_name.h"

#include <array>
#include <cstdio>
#include <string_view>
#include <utility>

namespace k52::nt {
namespace {

#define K52_NAMED(status) std::pair<NTSTATUS, std::string_view>(status, #status)

constexpr std::array kNames{
    K52_NAMED(STATUS_SUCCESS),
    K52_NAMED(STATUS_TIMEOUT),
    K52_NAMED(STATUS_PENDING),
    K52_NAMED(STATUS_MORE_PROCESSING_REQUIRED),
    K52_NAMED(STATUS_UNSUCCESSFUL),
    K52_NAMED(STATUS_NOT_IMPLEMENTED),
    K52_NAMED(STATUS_INVALID_PARAMETER),
    K52_NAMED(STATUS_INVALID_DEVICE_REQUEST),
    K52_NAMED(STATUS_NO_MEDIA),
    K52_NAMED(STATUS_ACCESS_DENIED),
    K52_NAMED(STATUS_BUFFER_TOO_SMALL),
    K52_NAMED(STATUS_OBJECT_NAME_NOT_FOUND),
    K52_NAMED(STATUS_OBJECT_NAME_COLLISION),
    K52_NAMED(STATUS_SHARING_VIOLATION),
    K52_NAMED(STATUS_INSUFFICIENT_RESOURCES),
    K52_NAMED(STATUS_DEVICE_BUSY),
    K52_NAMED(STATUS_IO_TIMEOUT),
    K52_NAMED(STATUS_NOT_SUPPORTED),
    K52_NAMED(STATUS_CANCELLED),
    K52_NAMED(STATUS_INVALID_BUFFER_SIZE),
    K52_NAMED(STATUS_DEVICE_NOT_CONNECTED),
    K52_NAMED(STATUS_DEVICE_CONFIGURATION_ERROR),
    K52_NAMED(STATUS_NO_SUCH_DEVICE),
    K52_NAMED(STATUS_UNRECOGNIZED_MEDIA),
    K52_NAMED(STATUS_DEVICE_DATA_ERROR),
    K52_NAMED(STATUS_INVALID_DEVICE_STATE),
    K52_NAMED(STATUS_DEVICE_PROTOCOL_ERROR),
};

#undef K52_NAMED

}  // namespace

std::string statusName(NTSTATUS status) {
  char number[16];
  std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(status));
  for (const auto& [value, name] : kNames) {
    if (value == status) return std::string(name) + " (" + number + ")";
  }
  return number;
}

}  // namespace k52::nt

// NTSTATUS and the status values the kernel model and its drivers use, with
// their NT numbers so that values seen in logs and tools mean the same thing.
#pragma once

#include <cstdint>

namespace k52::nt {

using NTSTATUS = std::int32_t;

constexpr NTSTATUS ntStatus(std::uint32_t value) {
  return static_cast<NTSTATUS>(value);
}

inline constexpr NTSTATUS STATUS_SUCCESS = ntStatus(0x00000000);
inline constexpr NTSTATUS STATUS_TIMEOUT = ntStatus(0x00000102);
inline constexpr NTSTATUS STATUS_PENDING = ntStatus(0x00000103);
inline constexpr NTSTATUS STATUS_MORE_PROCESSING_REQUIRED = ntStatus(0xC0000016);
inline constexpr NTSTATUS STATUS_UNSUCCESSFUL = ntStatus(0xC0000001);
inline constexpr NTSTATUS STATUS_NOT_IMPLEMENTED = ntStatus(0xC0000002);
inline constexpr NTSTATUS STATUS_INVALID_PARAMETER = ntStatus(0xC000000D);
inline constexpr NTSTATUS STATUS_INVALID_DEVICE_REQUEST = ntStatus(0xC0000010);
inline constexpr NTSTATUS STATUS_NO_MEDIA = ntStatus(0xC0000178);
inline constexpr NTSTATUS STATUS_ACCESS_DENIED = ntStatus(0xC0000022);
inline constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = ntStatus(0xC0000023);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = ntStatus(0xC0000034);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_COLLISION = ntStatus(0xC0000035);
inline constexpr NTSTATUS STATUS_SHARING_VIOLATION = ntStatus(0xC0000043);
inline constexpr NTSTATUS STATUS_INSUFFICIENT_RESOURCES = ntStatus(0xC000009A);
inline constexpr NTSTATUS STATUS_DEVICE_BUSY = ntStatus(0x80000011);
inline constexpr NTSTATUS STATUS_IO_TIMEOUT = ntStatus(0xC00000B5);
inline constexpr NTSTATUS STATUS_NOT_SUPPORTED = ntStatus(0xC00000BB);
inline constexpr NTSTATUS STATUS_CANCELLED = ntStatus(0xC0000120);
inline constexpr NTSTATUS STATUS_INVALID_BUFFER_SIZE = ntStatus(0xC0000206);
inline constexpr NTSTATUS STATUS_DEVICE_NOT_CONNECTED = ntStatus(0xC000009D);
inline constexpr NTSTATUS STATUS_DEVICE_CONFIGURATION_ERROR = ntStatus(0xC0000182);
inline constexpr NTSTATUS STATUS_NO_SUCH_DEVICE = ntStatus(0xC000000E);
inline constexpr NTSTATUS STATUS_UNRECOGNIZED_MEDIA = ntStatus(0xC0000014);
inline constexpr NTSTATUS STATUS_DEVICE_DATA_ERROR = ntStatus(0xC000009C);
inline constexpr NTSTATUS STATUS_INVALID_DEVICE_STATE = ntStatus(0xC0000184);
inline constexpr NTSTATUS STATUS_DEVICE_PROTOCOL_ERROR = ntStatus(0xC0000186);

// Success and informational values are non-negative; warnings (0x8...) and
// errors (0xC...) are negative.
constexpr bool NT_SUCCESS(NTSTATUS status) {
  return status >= 0;
}

}  // namespace k52::nt

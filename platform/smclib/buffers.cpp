// Bounded views of the request, reply and library buffers.
#include <cstring>

#include "platform/smclib/internal.h"

namespace k52::nt::smc {

std::span<const UCHAR> requestData(const SMARTCARD_EXTENSION& ext, NTSTATUS* status) {
  const ULONG length = ext.IoRequest.RequestBufferLength;
  if (ext.IoRequest.RequestBuffer == nullptr || length < sizeof(SCARD_IO_REQUEST)) {
    *status = STATUS_INVALID_PARAMETER;
    return {};
  }
  SCARD_IO_REQUEST header;
  std::memcpy(&header, ext.IoRequest.RequestBuffer, sizeof header);
  if (header.cbPciLength < sizeof(SCARD_IO_REQUEST) || header.cbPciLength > length) {
    *status = STATUS_INVALID_PARAMETER;
    return {};
  }
  *status = STATUS_SUCCESS;
  return {ext.IoRequest.RequestBuffer + header.cbPciLength, length - header.cbPciLength};
}

std::span<UCHAR> replyData(const SMARTCARD_EXTENSION& ext) {
  const ULONG length = ext.IoRequest.ReplyBufferLength;
  if (ext.IoRequest.ReplyBuffer == nullptr || length < sizeof(SCARD_IO_REQUEST)) return {};
  return {ext.IoRequest.ReplyBuffer + sizeof(SCARD_IO_REQUEST), length - sizeof(SCARD_IO_REQUEST)};
}

void finishReply(PSMARTCARD_EXTENSION ext, ULONG length) {
  const SCARD_IO_REQUEST header{ext->CardCapabilities.Protocol.Selected, sizeof(SCARD_IO_REQUEST)};
  std::memcpy(ext->IoRequest.ReplyBuffer, &header, sizeof header);
  if (ext->IoRequest.Information) *ext->IoRequest.Information = sizeof header + length;
}

std::span<UCHAR> freeRoom(SMARTCARD_REQUEST& buffer) {
  if (buffer.Buffer == nullptr || buffer.BufferLength > buffer.BufferSize) return {};
  return {buffer.Buffer + buffer.BufferLength, buffer.BufferSize - buffer.BufferLength};
}

std::span<const UCHAR> usedBytes(const SMARTCARD_REPLY& buffer) {
  if (buffer.Buffer == nullptr) return {};
  return {buffer.Buffer,
          buffer.BufferLength < buffer.BufferSize ? buffer.BufferLength : buffer.BufferSize};
}

}  // namespace k52::nt::smc

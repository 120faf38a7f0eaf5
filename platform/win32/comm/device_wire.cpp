#include "platform/win32/comm/device_wire.h"

#include <stdexcept>

namespace k52::win32::devicewire {

namespace {

void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t getU32(std::span<const std::uint8_t> bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= std::uint32_t{bytes[at + i]} << (8 * i);
  return v;
}

std::size_t checkedLength(std::uint32_t length) {
  if (length > kMaxDeviceBuffer) throw std::invalid_argument("device buffer too long");
  return length;
}

}  // namespace

std::vector<std::uint8_t> encodeRequest(const Request& request) {
  std::vector<std::uint8_t> out;
  putU32(out, request.code);
  putU32(out, request.outSize);
  putU32(out, static_cast<std::uint32_t>(request.input.size()));
  out.insert(out.end(), request.input.begin(), request.input.end());
  return out;
}

std::vector<std::uint8_t> encodeReply(const Reply& reply) {
  std::vector<std::uint8_t> out{static_cast<std::uint8_t>(reply.ok ? 1 : 0)};
  putU32(out, static_cast<std::uint32_t>(reply.output.size()));
  out.insert(out.end(), reply.output.begin(), reply.output.end());
  return out;
}

std::size_t requestInputLength(std::span<const std::uint8_t, kRequestHeader> header) {
  checkedLength(getU32(header, 4));
  return checkedLength(getU32(header, 8));
}

std::optional<std::pair<Request, std::size_t>> decodeRequest(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kRequestHeader) return std::nullopt;
  const std::size_t inLength = requestInputLength(bytes.first<kRequestHeader>());
  if (bytes.size() < kRequestHeader + inLength) return std::nullopt;
  Request request;
  request.code = getU32(bytes, 0);
  request.outSize = getU32(bytes, 4);
  request.input.assign(bytes.begin() + kRequestHeader, bytes.begin() + kRequestHeader + inLength);
  return std::make_pair(std::move(request), kRequestHeader + inLength);
}

std::size_t replyOutputLength(std::span<const std::uint8_t, kReplyHeader> header,
                              std::uint32_t outSize) {
  if (header[0] > 1) throw std::invalid_argument("device reply flag neither 0 nor 1");
  const std::uint32_t length = getU32(header, 1);
  if (length > outSize) throw std::invalid_argument("device reply longer than asked for");
  return length;
}

}  // namespace k52::win32::devicewire

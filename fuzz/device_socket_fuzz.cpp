// Bytes arriving on a device socket: requests as the serving side decodes
// them, one after another, and a reply header as the client checks it.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

#include "platform/win32/comm/device_wire.h"

namespace wire = k52::win32::devicewire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> bytes(data, size);
  try {
    while (auto decoded = wire::decodeRequest(bytes)) {
      if (decoded->second > bytes.size() || decoded->second < wire::kRequestHeader)
        __builtin_trap();
      bytes = bytes.subspan(decoded->second);
    }
  } catch (const std::invalid_argument&) {
  }
  if (size >= wire::kReplyHeader + 4) {
    try {
      const std::uint32_t outSize = data[5] | data[6] << 8;
      const std::size_t n = wire::replyOutputLength(
          std::span<const std::uint8_t, wire::kReplyHeader>(data, wire::kReplyHeader), outSize);
      if (n > outSize) __builtin_trap();
    } catch (const std::invalid_argument&) {
    }
  }
  return 0;
}

// Feeds arbitrary bytes to what one process of a prefix reads from another:
// the frames of cross-process window messages and the entries of the window
// registry. An accepted frame or entry must encode back to what decodes as
// the same again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "platform/win32/messaging/window_registry.h"
#include "platform/win32/messaging/wire.h"

using namespace k52::win32;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  if (auto frame = wire::decode(bytes)) {
    const auto again = wire::decode(wire::encode(*frame));
    if (!again || again->payload != frame->payload || again->target != frame->target ||
        again->message != frame->message || again->wParam != frame->wParam ||
        again->lParam != frame->lParam || again->kind != frame->kind) {
      std::abort();
    }
  }
  if (size >= wire::kHeaderSize) wire::decodeHeader(bytes.first<wire::kHeaderSize>());
  if (size >= wire::kReplySize) wire::decodeReply(bytes.first<wire::kReplySize>());

  if (auto entry = parseWindowEntry(std::string_view(reinterpret_cast<const char*>(data), size))) {
    const auto text = formatWindowEntry(*entry);
    const auto again = parseWindowEntry(text);
    if (!again || formatWindowEntry(*again) != text) std::abort();
  }
  return 0;
}

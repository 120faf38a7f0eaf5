#include "chiphost/client/client.h"

#include "platform/win32/messaging/user.h"

namespace k52::chiphost {

using namespace win32;

namespace {

constexpr UINT_PTR kWaitTimer = 0x4B52;

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

Client::Client(ClientOptions options) : options_(options) {}

std::int32_t Client::connect() {
  return endpoint_.connect(options_.start);
}

bool Client::pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  if (done()) return true;
  const HWND window = endpoint_.window();
  SetTimer(window, kWaitTimer, static_cast<UINT>(std::max<std::int64_t>(timeout.count(), 1)),
           nullptr);
  bool finished = false;
  MSG msg;
  while (!(finished = done())) {
    GetMessageA(&msg, 0, 0, 0);
    if (msg.message == WM_TIMER && msg.hwnd == window && msg.wParam == kWaitTimer) break;
    if (observer_) observer_(msg);
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  KillTimer(window, kWaitTimer);
  return finished;
}

void Client::pump(std::chrono::milliseconds duration) {
  if (endpoint_.window() == 0) connect();
  pumpUntil([] { return false; }, duration);
}

std::int32_t Client::exchange(std::span<const std::uint8_t> block,
                              std::vector<std::uint8_t>& reply) {
  if (const std::int32_t r = connect(); r != 0) return r;
  if (options_.transport == Transport::SharedMemory) {
    return endpoint_.sharedMemoryRequest(block, ++requestNumber_, options_.replyTimeout, reply);
  }
  const std::uint32_t job = endpoint_.sendRequest(block);
  if (job == 0) return kNotDelivered;
  std::optional<std::vector<std::uint8_t>> got;
  if (!pumpUntil([&] { return (got = endpoint_.takeReply(job)).has_value(); },
                 options_.replyTimeout)) {
    return kNoReply;
  }
  reply = std::move(*got);
  return 0;
}

ClientReply Client::request(std::string_view command, std::span<const std::uint8_t> data,
                            std::optional<std::int32_t> handle) {
  const auto block = encodeRequest({}, handle.value_or(session_), bytesOf(command), data);
  ClientReply out;
  out.result = exchange(block, out.block);
  if (out.result != 0) return out;
  const auto reply = readReply(out.block);
  if (!reply) {
    out.result = kNoReply;
    return out;
  }
  out.result = reply->result;
  out.handle = reply->handle;
  out.data = reply->data;
  session_ = reply->handle;
  return out;
}

}  // namespace k52::chiphost

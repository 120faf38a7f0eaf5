// libchipclient: a client of the card server for C++ programs.
//
// A Client is the client role of the channel endpoint on the calling thread:
// its own window of class "CHIPHOSTCLIENT", the server found or started on
// first use (and again when it has gone), and requests by WM_COPYDATA or by
// shared memory. A Client belongs to the thread that made it; several
// threads each use their own.
//
//   k52::chiphost::Client client;
//   auto r = client.request("System,Info");
//   // r.result: 0, the interpreter's code (0x1203, ...), or a negative
//   // channel result (-116 server not started, -119 no reply, ...)
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "chiphost/channel/wmc.h"
#include "platform/win32/messaging/types.h"

namespace k52::chiphost {

enum class Transport { CopyData, SharedMemory };

struct ClientOptions {
  Transport transport = Transport::CopyData;
  ServerStart start;
  // How long a request waits for its reply.
  std::chrono::milliseconds replyTimeout{30000};
};

struct ClientReply {
  // The interpreter's result code, or a negative result of the channel.
  std::int32_t result = 0;
  // The session that served the request.
  std::int32_t handle = 0;
  std::vector<std::uint8_t> data;
  // The reply block as it came (empty when none came).
  std::vector<std::uint8_t> block;
};

class Client {
 public:
  explicit Client(ClientOptions options = {});

  // Makes the window and finds or starts the server; 0 or a negative result.
  // request() does this itself.
  std::int32_t connect();

  // One command of the language. `handle`: the session to use; by default
  // the one the last reply named (0 before the first: the server finds the
  // session of this thread or makes one); -1 asks for a new session.
  ClientReply request(std::string_view command, std::span<const std::uint8_t> data = {},
                      std::optional<std::int32_t> handle = std::nullopt);

  // A request block built by the caller, sent as it is; 0 with the reply
  // block, or a negative result.
  std::int32_t exchange(std::span<const std::uint8_t> block, std::vector<std::uint8_t>& reply);

  // Handles this thread's messages for `duration`. Every message taken off
  // the queue (while pumping here or waiting for a reply) goes to the
  // observer before it is dispatched: notifications posted to a registered
  // window arrive this way.
  void pump(std::chrono::milliseconds duration);
  void setObserver(std::function<void(const win32::MSG&)> observer) {
    observer_ = std::move(observer);
  }

  win32::HWND window() const { return endpoint_.window(); }
  std::int32_t session() const { return session_; }
  bool compatible() const { return endpoint_.compatible(); }

 private:
  // Pumps until `done` or the time is up; false on time-out.
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  ClientOptions options_;
  TWmc endpoint_{WmcRole::Client};
  std::int32_t session_ = 0;
  std::uint32_t requestNumber_ = 0;
  std::function<void(const win32::MSG&)> observer_;
};

}  // namespace k52::chiphost

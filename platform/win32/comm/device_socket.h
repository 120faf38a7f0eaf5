// The serving side of a device socket (device_wire.h): a process that plays
// a device "\\.\NAME" for the other processes of the prefix.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/win32/comm/device.h"
#include "platform/win32/messaging/unix_socket.h"

namespace k52::win32 {

class DeviceSocketServer {
 public:
  // Listens at `path` (its directory is made; a stale socket file is
  // replaced). Throws std::runtime_error when that fails.
  DeviceSocketServer(std::filesystem::path path, DeviceProvider& provider);
  ~DeviceSocketServer();
  DeviceSocketServer(const DeviceSocketServer&) = delete;
  DeviceSocketServer& operator=(const DeviceSocketServer&) = delete;

  // Waits up to `wait` for connections and requests and serves them. A
  // connection that breaks the wire format is closed.
  void serveOnce(std::chrono::milliseconds wait);

 private:
  struct Connection {
    Fd socket;
    std::vector<std::uint8_t> input;
  };
  bool serve(Connection& connection);

  std::filesystem::path path_;
  DeviceProvider& provider_;
  Fd listener_;
  std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace k52::win32

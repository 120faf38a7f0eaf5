// fnxsim's control socket: one line in, "ok\n" or "error\n" and a text out,
// then the connection closes; and the client side for `fnxsim COMMAND`.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32/messaging/unix_socket.h"
#include "sim/fnx/fnx_firmware.h"
#include "sim/fnx/fnxsim_control.h"
#include "sim/fnx/sharing_driver.h"

namespace k52::sim {

// Carries out a control request; the text of the answer, or an error
// message (returned as false).
bool applyFnxControl(const FnxControl& control, FnxFirmware& firmware, SharingDriver* driver,
                     std::int32_t hostBaud, std::string& text);

class FnxControlServer {
 public:
  using Handler = std::function<bool(const std::string& line, std::string& text)>;
  // Throws std::runtime_error when a live fnxsim serves the path.
  FnxControlServer(std::filesystem::path path, Handler handler);
  ~FnxControlServer();
  int fd() const { return listener_.get(); }
  // Accepts and answers what is waiting, without blocking.
  void serve();

 private:
  std::filesystem::path path_;
  Handler handler_;
  win32::Fd listener_;
};

struct FnxControlReply {
  bool ok = false;
  std::string text;
};
// Throws std::runtime_error when nothing answers at `path`.
FnxControlReply sendFnxControl(const std::filesystem::path& path, const std::string& line);

}  // namespace k52::sim

// What a client sends k52sim over the keyboard's socket: hellos, port
// records and control lines, all at once, then the end of its stream. The
// keyboard serves each input on one connection until it closes it.
#include <stdlib.h>
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/win32/messaging/unix_socket.h"
#include "sim/k52sim/keyboard_server.h"
#include "sim/k52sim/keyboard_unit.h"

namespace {

struct Keyboard {
  Keyboard() {
    std::string dir = (std::filesystem::temp_directory_path() / "k52sim-fuzz-XXXXXX").string();
    if (!::mkdtemp(dir.data())) std::abort();
    path = std::filesystem::path(dir) / "k52sim.sock";
    server = std::make_unique<k52::sim::KeyboardServer>(unit, path);
  }
  ~Keyboard() {
    server.reset();
    std::error_code ignored;
    std::filesystem::remove_all(path.parent_path(), ignored);
  }
  std::filesystem::path path;
  k52::sim::KeyboardUnit unit;
  std::unique_ptr<k52::sim::KeyboardServer> server;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Keyboard keyboard;
  if (size > 4096) return 0;  // stays within the socket's buffers
  k52::win32::Fd client = k52::win32::connectSocket(keyboard.path, SOCK_STREAM);
  if (!client) std::abort();
  if (!k52::win32::writeAll(client.get(), data, size)) std::abort();
  ::shutdown(client.get(), SHUT_WR);
  for (int round = 0; round < 50; ++round) {
    keyboard.server->serveOnce(std::chrono::milliseconds(1));
    std::uint8_t answer[8192];
    if (::recv(client.get(), answer, sizeof answer, MSG_DONTWAIT) == 0) break;
  }
  return 0;
}

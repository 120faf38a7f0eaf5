#include "sim/k52sim/control_client.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/nt/port_link/port_wire.h"
#include "platform/win32/messaging/unix_socket.h"

namespace k52::sim {

ControlReply sendControl(const std::filesystem::path& socketPath, const std::string& line) {
  win32::Fd socket = win32::connectSocket(socketPath, SOCK_STREAM);
  if (!socket) {
    throw std::runtime_error("no k52sim serves " + socketPath.string() + ": " +
                             std::strerror(errno));
  }
  win32::setSocketTimeouts(socket.get(), static_cast<int>(kControlTimeout.count()));
  const auto hello = nt::portwire::encode(nt::portwire::hello(nt::portwire::Role::kControl));
  const std::string request = line + "\n";
  if (!win32::writeAll(socket.get(), hello.data(), hello.size()) ||
      !win32::writeAll(socket.get(), request.data(), request.size())) {
    throw std::runtime_error("the k52sim at " + socketPath.string() + " did not take the command");
  }
  std::string answer;
  char buffer[512];
  for (;;) {
    const ssize_t n = ::recv(socket.get(), buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error("the k52sim at " + socketPath.string() + " did not answer");
    if (n == 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  if (answer.starts_with("ok\n")) return {true, answer.substr(3)};
  if (answer.starts_with("error\n")) return {false, answer.substr(6)};
  throw std::runtime_error("the k52sim at " + socketPath.string() + " did not answer");
}

}  // namespace k52::sim

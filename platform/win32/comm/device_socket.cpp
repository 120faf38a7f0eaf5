#include "platform/win32/comm/device_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/win32/comm/device_wire.h"

namespace k52::win32 {

DeviceSocketServer::DeviceSocketServer(std::filesystem::path path, DeviceProvider& provider)
    : path_(std::move(path)), provider_(provider) {
  std::filesystem::create_directories(path_.parent_path());
  if (Fd live = connectSocket(path_, SOCK_STREAM)) {
    throw std::runtime_error("another process serves " + path_.string());
  }
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
  listener_ = bindSocket(path_, SOCK_STREAM);
  if (!listener_ || ::listen(listener_.get(), 8) != 0) {
    throw std::runtime_error("cannot listen at " + path_.string());
  }
}

DeviceSocketServer::~DeviceSocketServer() {
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

void DeviceSocketServer::serveOnce(std::chrono::milliseconds wait) {
  std::vector<pollfd> fds{{listener_.get(), POLLIN, 0}};
  for (const auto& c : connections_) fds.push_back({c->socket.get(), POLLIN, 0});
  if (::poll(fds.data(), fds.size(), static_cast<int>(wait.count())) <= 0) return;
  std::vector<Connection*> ready;
  for (std::size_t i = 1; i < fds.size(); ++i) {
    if (fds[i].revents) ready.push_back(connections_[i - 1].get());
  }
  for (Connection* c : ready) {
    if (!serve(*c)) c->socket = Fd();
  }
  std::erase_if(connections_, [](const auto& c) { return !c->socket; });
  if (fds[0].revents & POLLIN) {
    Fd accepted(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (accepted)
      connections_.push_back(std::make_unique<Connection>(Connection{std::move(accepted), {}}));
  }
}

bool DeviceSocketServer::serve(Connection& connection) {
  std::uint8_t buffer[4096];
  const ssize_t n = ::recv(connection.socket.get(), buffer, sizeof buffer, MSG_DONTWAIT);
  if (n == 0) return false;
  if (n < 0) return errno == EAGAIN || errno == EINTR;
  connection.input.insert(connection.input.end(), buffer, buffer + n);
  try {
    while (auto decoded = devicewire::decodeRequest(connection.input)) {
      auto& [request, used] = *decoded;
      devicewire::Reply reply;
      if (auto output = provider_.ioControl(request.code, request.input, request.outSize)) {
        reply.ok = true;
        reply.output = std::move(*output);
        if (reply.output.size() > request.outSize) reply.output.resize(request.outSize);
      }
      connection.input.erase(connection.input.begin(), connection.input.begin() + used);
      const auto bytes = devicewire::encodeReply(reply);
      if (!writeAll(connection.socket.get(), bytes.data(), bytes.size())) return false;
    }
  } catch (const std::invalid_argument&) {
    return false;
  }
  return true;
}

}  // namespace k52::win32

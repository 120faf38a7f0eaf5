#include "sim/k52sim/keyboard_server.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace k52::sim {
namespace {

namespace wire = nt::portwire;

// A peer that does not take what it is sent within this time is dropped.
constexpr int kSendTimeoutMs = 1000;

[[noreturn]] void fail(const std::filesystem::path& path, const std::string& what) {
  throw std::runtime_error(path.string() + ": " + what);
}

// Makes way for a new instance at `path`: removes a socket file nobody
// serves, refuses a live one.
void claim(const std::filesystem::path& path) {
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(path, ec);
  if (!std::filesystem::exists(status)) return;
  if (!std::filesystem::is_socket(status)) fail(path, "exists and is not a socket");
  if (win32::connectSocket(path, SOCK_STREAM)) fail(path, "another k52sim already serves it");
  if (errno != ECONNREFUSED) fail(path, std::strerror(errno));
  std::filesystem::remove(path, ec);
}

}  // namespace

KeyboardServer::KeyboardServer(KeyboardUnit& unit, std::filesystem::path socketPath)
    : unit_(unit), path_(std::move(socketPath)) {
  std::error_code ec;
  std::filesystem::create_directories(path_.parent_path(), ec);
  claim(path_);
  listener_ = win32::bindSocket(path_, SOCK_STREAM | SOCK_NONBLOCK);
  if (!listener_) fail(path_, std::strerror(errno));
  if (::listen(listener_.get(), 8) != 0) {
    const int error = errno;
    std::filesystem::remove(path_, ec);
    fail(path_, std::strerror(error));
  }
  unit_.onIrq1([this] { irq1(); });
}

KeyboardServer::~KeyboardServer() {
  unit_.onIrq1({});
  pc_ = nullptr;
  connections_.clear();
  listener_ = win32::Fd();
  std::error_code ec;
  std::filesystem::remove(path_, ec);
}

void KeyboardServer::serveOnce(std::chrono::milliseconds wait) {
  std::chrono::nanoseconds timeout = wait;
  if (const auto due = unit_.untilNextDue()) timeout = std::min(timeout, *due);
  std::vector<pollfd> fds{{listener_.get(), POLLIN, 0}};
  for (const auto& connection : connections_) fds.push_back({connection->socket.get(), POLLIN, 0});
  const timespec ts{static_cast<time_t>(timeout.count() / 1'000'000'000),
                    static_cast<long>(timeout.count() % 1'000'000'000)};
  if (::ppoll(fds.data(), fds.size(), &ts, nullptr) > 0) {
    // Connections first: accept() adds to the list the descriptors refer to.
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents != 0) receive(*connections_[i - 1]);
    }
    if (fds[0].revents & POLLIN) accept();
  }
  unit_.catchUp();
  if (pc_ && pc_->closing) pc_ = nullptr;
  std::erase_if(connections_, [](const auto& connection) { return connection->closing; });
}

void KeyboardServer::accept() {
  for (;;) {
    win32::Fd socket(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!socket) return;
    win32::setSocketTimeouts(socket.get(), kSendTimeoutMs);
    auto connection = std::make_unique<Connection>();
    connection->socket = std::move(socket);
    connections_.push_back(std::move(connection));
  }
}

void KeyboardServer::receive(Connection& connection) {
  std::uint8_t buffer[4096];
  const ssize_t n = ::recv(connection.socket.get(), buffer, sizeof buffer, MSG_DONTWAIT);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    connection.closing = true;
    return;
  }
  connection.input.insert(connection.input.end(), buffer, buffer + n);
  if (connection.state == Connection::State::kHello) handleHello(connection);
  if (connection.closing) return;
  if (connection.state == Connection::State::kPc) {
    handlePc(connection);
  } else if (connection.state == Connection::State::kControl) {
    handleControl(connection);
  }
}

void KeyboardServer::handleHello(Connection& connection) {
  if (connection.input.size() < wire::kRecordSize) return;
  const auto record = wire::decode(
      std::span<const std::uint8_t, wire::kRecordSize>(connection.input.data(), wire::kRecordSize));
  connection.input.erase(connection.input.begin(), connection.input.begin() + wire::kRecordSize);
  if (!record || !wire::isHello(*record)) {
    connection.closing = true;
  } else if (record->value == static_cast<std::uint8_t>(wire::Role::kPc)) {
    if (pc_) {
      send(connection, {wire::Op::kBusy});
      connection.closing = true;
      return;
    }
    connection.state = Connection::State::kPc;
    pc_ = &connection;
    send(connection, wire::hello(wire::Role::kPc));
  } else if (record->value == static_cast<std::uint8_t>(wire::Role::kControl)) {
    connection.state = Connection::State::kControl;
  } else {
    connection.closing = true;
  }
}

void KeyboardServer::handlePc(Connection& connection) {
  std::size_t at = 0;
  for (; !connection.closing && connection.input.size() - at >= wire::kRecordSize;
       at += wire::kRecordSize) {
    const auto record = wire::decode(std::span<const std::uint8_t, wire::kRecordSize>(
        connection.input.data() + at, wire::kRecordSize));
    if (record && record->op == wire::Op::kRead) {
      const std::uint8_t value = unit_.readPort(record->port);
      send(connection, {wire::Op::kValue, value, record->port, record->sequence});
    } else if (record && record->op == wire::Op::kWrite) {
      unit_.writePort(record->port, record->value);
    } else {
      connection.closing = true;  // not a PC speaking this link
    }
  }
  connection.input.erase(connection.input.begin(),
                         connection.input.begin() + static_cast<std::ptrdiff_t>(at));
}

void KeyboardServer::handleControl(Connection& connection) {
  const auto end = std::find(connection.input.begin(), connection.input.end(), '\n');
  if (end == connection.input.end()) {
    if (connection.input.size() > kMaxControlLine)
      reply(connection, false, "the command is too long\n");
    return;
  }
  const std::string line(connection.input.begin(), end);
  const auto request = parseControlLine(line);
  if (const auto* error = std::get_if<std::string>(&request)) {
    reply(connection, false, *error + "\n");
  } else {
    reply(connection, true, unit_.carryOut(std::get<ControlRequest>(request), pcConnected()));
  }
}

void KeyboardServer::send(Connection& connection, const wire::Record& record) {
  const auto bytes = wire::encode(record);
  if (!win32::writeAll(connection.socket.get(), bytes.data(), bytes.size())) {
    connection.closing = true;
  }
}

void KeyboardServer::reply(Connection& connection, bool ok, const std::string& text) {
  const std::string message = (ok ? "ok\n" : "error\n") + text;
  win32::writeAll(connection.socket.get(), message.data(), message.size());
  connection.closing = true;
}

void KeyboardServer::irq1() {
  if (pc_ && !pc_->closing) send(*pc_, {wire::Op::kIrq1});
}

}  // namespace k52::sim

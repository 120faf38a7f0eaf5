#include "platform/nt/port_link/port_link.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/nt/real_scheduler.h"

namespace k52::nt {

std::filesystem::path keyboardSocketPath(const win32::Prefix& prefix) {
  return prefix.runDir() / "k52sim.sock";
}

std::unique_ptr<PortLink> PortLink::connect(const std::filesystem::path& socketPath) {
  win32::Fd socket = win32::connectSocket(socketPath, SOCK_STREAM);
  if (!socket) {
    throw std::runtime_error("no K52 keyboard serves " + socketPath.string() + ": " +
                             std::strerror(errno));
  }
  win32::setSocketTimeouts(socket.get(), static_cast<int>(kHelloTimeout.count()));
  const auto hello = portwire::encode(portwire::hello(portwire::Role::kPc));
  portwire::Bytes answer{};
  if (!win32::writeAll(socket.get(), hello.data(), hello.size()) ||
      !win32::readExactly(socket.get(), answer.data(), answer.size())) {
    throw std::runtime_error("the K52 keyboard at " + socketPath.string() + " did not answer");
  }
  const auto record = portwire::decode(answer);
  if (record && record->op == portwire::Op::kBusy) {
    throw std::runtime_error("the K52 keyboard at " + socketPath.string() +
                             " already serves another PC");
  }
  if (!record || !portwire::isHello(*record)) {
    throw std::runtime_error(socketPath.string() + " is not a K52 keyboard");
  }
  win32::setSocketTimeouts(socket.get(), 0);
  return std::unique_ptr<PortLink>(new PortLink(std::move(socket)));
}

PortLink::PortLink(win32::Fd socket) : socket_(std::move(socket)) {
  thread_ = std::thread([this] {
    runAsSystemThread();
    receive();
  });
}

PortLink::~PortLink() {
  ::shutdown(socket_.get(), SHUT_RDWR);
  thread_.join();
}

void PortLink::receive() {
  portwire::Bytes bytes{};
  while (win32::readExactly(socket_.get(), bytes.data(), bytes.size())) {
    const auto record = portwire::decode(bytes);
    if (!record) continue;  // from a later version; nothing to do with it
    if (record->op == portwire::Op::kValue) {
      std::lock_guard lock(stateMutex_);
      if (record->sequence == awaited_) value_ = record->value;
      answered_.notify_all();
    } else if (record->op == portwire::Op::kIrq1) {
      std::function<void()> isr;
      {
        std::lock_guard lock(stateMutex_);
        isr = isr_;
      }
      if (isr) isr();
    }
  }
  std::lock_guard lock(stateMutex_);
  connected_ = false;
  answered_.notify_all();
}

bool PortLink::send(const portwire::Record& record) {
  const auto bytes = portwire::encode(record);
  return win32::writeAll(socket_.get(), bytes.data(), bytes.size());
}

std::uint8_t PortLink::readPort(std::uint16_t port) {
  std::lock_guard access(accessMutex_);
  std::uint32_t sequence = 0;
  {
    std::lock_guard lock(stateMutex_);
    if (!connected_) return 0xFF;
    sequence = ++awaited_;
    value_.reset();
  }
  if (!send({portwire::Op::kRead, 0, port, sequence})) return 0xFF;
  std::unique_lock lock(stateMutex_);
  answered_.wait_for(lock, kReadTimeout, [&] { return value_.has_value() || !connected_; });
  return value_.value_or(0xFF);
}

void PortLink::writePort(std::uint16_t port, std::uint8_t value) {
  std::lock_guard access(accessMutex_);
  if (connected()) send({portwire::Op::kWrite, value, port, 0});
}

void PortLink::onIrq1(std::function<void()> isr) {
  std::lock_guard lock(stateMutex_);
  isr_ = std::move(isr);
}

bool PortLink::connected() const {
  std::lock_guard lock(stateMutex_);
  return connected_;
}

}  // namespace k52::nt

#include "sim/vpcd/vpcd_card.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <utility>

#include "sim/vpcd/frame.h"
#include "sim/vpcd/session.h"

namespace k52::sim {
namespace {

using namespace std::chrono_literals;

constexpr auto kRetryInterval = 20ms;
// A reader that stops reading our answers is treated as gone.
constexpr timeval kSendTimeout{5, 0};

int connectOnce(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &kSendTimeout, sizeof kSendTimeout);
  return fd;
}

// The driver writes length and payload separately; with delayed ACKs on our
// side its second write waits ~40 ms for our ACK of the first. Linux drops
// quick-ACK mode on its own, so it is re-armed around every read.
void quickAck(int fd) {
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

bool sendAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

VpcdCard::VpcdCard(Card card, std::uint16_t port) : port_(port), card_(std::move(card)) {}

VpcdCard::~VpcdCard() {
  remove();
}

bool VpcdCard::insert(std::chrono::milliseconds timeout) {
  if (socket_ >= 0) {
    if (inserted()) return true;
    remove();  // the reader hung up; reap the old connection first
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int fd = connectOnce(port_);
  while (fd < 0 && std::chrono::steady_clock::now() + kRetryInterval < deadline) {
    std::this_thread::sleep_for(kRetryInterval);
    fd = connectOnce(port_);
  }
  if (fd < 0) return false;
  {
    std::lock_guard lock(mutex_);
    socket_ = fd;
    connected_ = true;
    poweredSinceInsert_ = false;
  }
  thread_ = std::thread(&VpcdCard::serve, this);
  return true;
}

void VpcdCard::remove() {
  if (socket_ < 0) return;
  // Wakes the thread's blocking read; the descriptor stays valid until joined.
  ::shutdown(socket_, SHUT_RDWR);
  thread_.join();
  ::close(socket_);
  std::lock_guard lock(mutex_);
  socket_ = -1;
}

bool VpcdCard::inserted() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

bool VpcdCard::waitUntilPowered(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return poweredSinceInsert_; });
}

void VpcdCard::withCard(const std::function<void(Card&)>& fn) {
  std::lock_guard lock(mutex_);
  fn(card_);
}

void VpcdCard::serve() {
  std::array<std::uint8_t, 4096> buffer;
  FrameDecoder decoder;
  for (;;) {
    quickAck(socket_);
    const ssize_t n = ::recv(socket_, buffer.data(), buffer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || !handle(decoder, std::span(buffer.data(), static_cast<std::size_t>(n)))) break;
    quickAck(socket_);
  }
  std::lock_guard lock(mutex_);
  connected_ = false;
  card_.powerOff();
  changed_.notify_all();
}

bool VpcdCard::handle(FrameDecoder& decoder, std::span<const std::uint8_t> bytes) {
  decoder.feed(bytes);
  while (auto payload = decoder.next()) {
    std::optional<std::vector<std::uint8_t>> reply;
    {
      std::lock_guard lock(mutex_);
      reply = answerVpcd(card_, *payload);
      if (card_.powered() && !poweredSinceInsert_) {
        poweredSinceInsert_ = true;
        changed_.notify_all();
      }
    }
    if (reply && !sendAll(socket_, encodeVpcdFrame(*reply))) return false;
  }
  return true;
}

}  // namespace k52::sim

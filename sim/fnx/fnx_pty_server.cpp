#include "sim/fnx/fnx_pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/termios/termios_port.h"

namespace k52::sim {

namespace {

Duration sinceStart() {
  return std::chrono::steady_clock::now().time_since_epoch();
}

}  // namespace

FnxPtyServer::FnxPtyServer(FnxConfig config, std::optional<std::string> link)
    : link_(std::move(link)),
      firmware_(config, [this](std::span<const std::uint8_t> bytes) { send(bytes); }) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    throw std::runtime_error(std::string("cannot open a pty: ") + std::strerror(errno));
  }
  slavePath_ = ptsname(master_);
  slaveKeeper_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  termios::applyRawFrame(slaveKeeper_, {9600, 8, termios::Parity::kNone, true});
  if (link_) {
    std::error_code ignored;
    std::filesystem::remove(*link_, ignored);
    std::filesystem::create_symlink(slavePath_, *link_);
  }
  firmware_.onCardChange = [this] {
    const std::uint8_t signal = kChangeSignalByte;
    send({&signal, 1});
  };
}

FnxPtyServer::~FnxPtyServer() {
  if (link_) {
    std::error_code ignored;
    std::filesystem::remove(*link_, ignored);
  }
  if (slaveKeeper_ >= 0) ::close(slaveKeeper_);
  if (master_ >= 0) ::close(master_);
}

bool FnxPtyServer::hostMatches() const {
  const std::int32_t speed = firmware_.speed();
  return speed <= firmware_.config().maxSpeed && FnxFirmware::rateMatches(hostBaud_, speed) &&
         hostTwoStopBits_;
}

void FnxPtyServer::send(std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t> out(bytes.begin(), bytes.end());
  if (!hostMatches()) {
    for (auto& b : out) b ^= 0xA5;
  }
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::write(master_, out.data() + done, out.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd fd{master_, POLLOUT, 0};
      ::poll(&fd, 1, 100);
    } else if (!(n < 0 && errno == EINTR)) {
      return;
    }
  }
}

void FnxPtyServer::serveOnce(std::chrono::milliseconds wait) {
  pollfd fd{master_, POLLIN, 0};
  if (::poll(&fd, 1, static_cast<int>(wait.count())) <= 0 || !(fd.revents & POLLIN)) return;
  if (const auto frame = termios::currentFrame(master_)) {
    if (frame->baudRate == 9600 && hostBaud_ != 9600) firmware_.lineBreak();
    hostBaud_ = frame->baudRate;
    hostTwoStopBits_ = frame->twoStopBits;
  }
  std::uint8_t buffer[512];
  const ssize_t n = ::read(master_, buffer, sizeof buffer);
  for (ssize_t i = 0; i < n; ++i) {
    if (hostMatches()) {
      firmware_.receive(buffer[i], sinceStart());
    } else {
      firmware_.receiveGarbled(sinceStart());
    }
  }
}

}  // namespace k52::sim

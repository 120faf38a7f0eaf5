#include "platform/nt/serial/tty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

namespace k52::nt::serial {

namespace {

struct Speed {
  ULONG baud;
  speed_t code;
};

constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool speedOf(ULONG baud, speed_t* code) {
  for (const Speed& s : kSpeeds) {
    if (s.baud == baud) {
      *code = s.code;
      return true;
    }
  }
  return false;
}

tcflag_t sizeFlag(UCHAR dataBits) {
  switch (dataBits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

}  // namespace

TtyLine::TtyLine(Scheduler& scheduler, std::string path)
    : scheduler_(scheduler), path_(std::move(path)) {}

TtyLine::~TtyLine() {
  close();
}

bool TtyLine::applySettings(int fd, const LineSettings& settings) {
  speed_t speed;
  if (!speedOf(settings.baudRate, &speed)) return false;
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= CLOCAL | CREAD | sizeFlag(settings.dataBits);
  switch (settings.parity) {
    case ODD_PARITY:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case EVEN_PARITY:
      tio.c_cflag |= PARENB;
      break;
    case MARK_PARITY:
      tio.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case SPACE_PARITY:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  // termios has no 1.5 stop bits; a UART set to 2 with 5 data bits sends 1.5.
  if (settings.stopBits != STOP_BIT_1) tio.c_cflag |= CSTOPB;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return false;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool TtyLine::configure(const LineSettings& settings) {
  speed_t speed;
  if (!speedOf(settings.baudRate, &speed)) return false;
  std::lock_guard lock(mutex_);
  if (fd_ >= 0 && !applySettings(fd_, settings)) return false;
  settings_ = settings;
  return true;
}

bool TtyLine::open(Receiver receiver) {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) return false;
  // Non-blocking only for the open itself, which would wait for carrier.
  const int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const int stopFd = eventfd(0, EFD_CLOEXEC);
  const int flags = fcntl(fd, F_GETFL);
  if (stopFd < 0 || !isatty(fd) || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
      !applySettings(fd, settings_)) {
    if (stopFd >= 0) ::close(stopFd);
    ::close(fd);
    return false;
  }
  tcflush(fd, TCIOFLUSH);
  fd_ = fd;
  stopFd_ = stopFd;
  receiver_ = std::make_shared<ReceiverSlot>();
  receiver_->set(std::move(receiver));
  reader_ = std::thread([this, fd, stopFd, slot = receiver_] { readLoop(fd, stopFd, slot); });
  return true;
}

void TtyLine::close() {
  std::shared_ptr<ReceiverSlot> receiver;
  std::thread reader;
  {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return;
    receiver = receiver_;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopFd_, &one, sizeof one);
    reader = std::move(reader_);
  }
  // Outside mutex_: a delivery holds the slot while the driver may be
  // transmitting.
  receiver->clear();
  reader.join();
  std::lock_guard lock(mutex_);
  ::close(fd_);
  ::close(stopFd_);
  fd_ = stopFd_ = -1;
}

void TtyLine::readLoop(int fd, int stopFd, std::shared_ptr<ReceiverSlot> receiver) {
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) {
      // Hung up (the far end of a pty closed): nothing more will come.
      if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return;
      continue;
    }
    std::uint8_t buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    scheduler_.interrupt([receiver, bytes = std::vector<std::uint8_t>(buffer, buffer + n)] {
      receiver->deliver(bytes);
    });
  }
}

void TtyLine::transmit(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  while (fd_ >= 0 && !bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the line is gone; the bytes with it
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
}

void TtyLine::abortTransmit() {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) tcflush(fd_, TCOFLUSH);
}

void TtyLine::discardReceived() {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) tcflush(fd_, TCIFLUSH);
}

}  // namespace k52::nt::serial

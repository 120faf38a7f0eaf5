#include "platform/nt/serial/tty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "platform/termios/termios_port.h"

namespace k52::nt::serial {

namespace {

// The 16550's clock is 1.8432 MHz, divided by 16 and an integer divisor:
// what it cannot come within 1 % of, the port driver refuses, as NT's does.
constexpr ULONG kUartBase = 115'200;

bool uartCanRun(ULONG baud) {
  if (baud == 0) return false;
  if (baud > kUartBase) return true;  // the fast UARTs' own clocks
  const ULONG divisor = (kUartBase + baud / 2) / baud;
  const ULONG actual = kUartBase / divisor;
  return (actual > baud ? actual - baud : baud - actual) * 100 <= baud;
}

termios::Parity parityOf(UCHAR parity) {
  switch (parity) {
    case ODD_PARITY:
      return termios::Parity::kOdd;
    case EVEN_PARITY:
      return termios::Parity::kEven;
    case MARK_PARITY:
      return termios::Parity::kMark;
    case SPACE_PARITY:
      return termios::Parity::kSpace;
    default:
      return termios::Parity::kNone;
  }
}

}  // namespace

TtyLine::TtyLine(Scheduler& scheduler, std::string path)
    : scheduler_(scheduler), path_(std::move(path)) {}

TtyLine::~TtyLine() {
  close();
}

bool TtyLine::applySettings(int fd, const LineSettings& settings) {
  if (!uartCanRun(settings.baudRate)) return false;
  // termios has no 1.5 stop bits; a UART set to 2 with 5 data bits sends 1.5.
  return termios::applyRawFrame(fd, {.baudRate = settings.baudRate,
                                     .dataBits = settings.dataBits,
                                     .parity = parityOf(settings.parity),
                                     .twoStopBits = settings.stopBits != STOP_BIT_1});
}

bool TtyLine::configure(const LineSettings& settings) {
  if (!uartCanRun(settings.baudRate)) return false;
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
  termios::flushInput(fd);
  termios::flushOutput(fd);
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
  if (fd_ >= 0) termios::flushOutput(fd_);
}

void TtyLine::discardReceived() {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) termios::flushInput(fd_);
}

}  // namespace k52::nt::serial

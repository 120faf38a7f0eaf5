#include "platform/win32/comm/tty_comm_line.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/termios/termios_port.h"
#include "platform/win32/comm/comm.h"

namespace k52::win32 {

namespace {

// Linux's TIOCM_ bits; <termios.h> is kept out of this file's neighbours.
constexpr int kTiocmDtr = 0x002;
constexpr int kTiocmRts = 0x004;
constexpr int kTiocmCts = 0x020;
constexpr int kTiocmCar = 0x040;
constexpr int kTiocmRng = 0x080;
constexpr int kTiocmDsr = 0x100;

termios::RawFrame rawFrameOf(const LineFrame& frame) {
  termios::RawFrame raw;
  raw.baudRate = frame.baudRate;
  raw.dataBits = frame.dataBits;
  raw.parity = static_cast<termios::Parity>(frame.parity);
  raw.twoStopBits = frame.stopBits != ONESTOPBIT;
  return raw;
}

}  // namespace

std::unique_ptr<TtyCommLine> TtyCommLine::open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (!isatty(fd) || !termios::applyRawFrame(fd, rawFrameOf(LineFrame{}))) {
    ::close(fd);
    return nullptr;
  }
  termios::flushInput(fd);
  return std::unique_ptr<TtyCommLine>(new TtyCommLine(fd));
}

TtyCommLine::~TtyCommLine() {
  ::close(fd_);
}

bool TtyCommLine::configure(const LineFrame& frame) {
  if (frame.dataBits < 5 || frame.dataBits > 8 || frame.parity > SPACEPARITY) return false;
  return termios::applyRawFrame(fd_, rawFrameOf(frame));
}

void TtyCommLine::setOutputs(const ModemOutputs& outputs) {
  // A pty has none of these lines; its failures are what the pty is.
  if (outputs.dtr != outputs_.dtr) termios::setModemLine(fd_, kTiocmDtr, outputs.dtr);
  if (outputs.rts != outputs_.rts) termios::setModemLine(fd_, kTiocmRts, outputs.rts);
  if (outputs.breakOn != outputs_.breakOn) termios::setBreak(fd_, outputs.breakOn);
  outputs_ = outputs;
}

std::uint32_t TtyCommLine::modemStatus() {
  const auto lines = termios::modemLines(fd_);
  if (!lines) return connected() ? MS_CTS_ON | MS_DSR_ON : 0;
  std::uint32_t status = 0;
  if (*lines & kTiocmCts) status |= MS_CTS_ON;
  if (*lines & kTiocmDsr) status |= MS_DSR_ON;
  if (*lines & kTiocmRng) status |= MS_RING_ON;
  if (*lines & kTiocmCar) status |= MS_RLSD_ON;
  return status;
}

std::size_t TtyCommLine::write(std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // The output queue is full: wait for room, not longer than the line
      // takes to drain a little.
      pollfd fd{fd_, POLLOUT, 0};
      if (::poll(&fd, 1, 100) > 0 && !(fd.revents & (POLLHUP | POLLERR))) continue;
    }
    break;
  }
  return done;
}

std::size_t TtyCommLine::read(std::span<std::uint8_t> buffer) {
  for (;;) {
    const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return 0;
  }
}

std::size_t TtyCommLine::inputCount() {
  return termios::inputQueued(fd_);
}

std::size_t TtyCommLine::outputCount() {
  return termios::outputQueued(fd_);
}

std::uint32_t TtyCommLine::takeErrors() {
  // Raw mode without PARMRK reports no per-character errors.
  return 0;
}

void TtyCommLine::purgeInput() {
  termios::flushInput(fd_);
}

void TtyCommLine::purgeOutput() {
  termios::flushOutput(fd_);
}

bool TtyCommLine::waitForInput(Duration wait) {
  if (inputCount() > 0) return true;
  // Rounded up: a wait of less than a millisecond must still wait, or the
  // caller's 1 ms turns spin through their last fraction.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
  pollfd fd{fd_, POLLIN, 0};
  const int n = ::poll(&fd, 1, static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX)));
  return n > 0 && (fd.revents & POLLIN);
}

bool TtyCommLine::connected() {
  pollfd fd{fd_, 0, 0};
  return ::poll(&fd, 1, 0) >= 0 && !(fd.revents & (POLLHUP | POLLERR | POLLNVAL));
}

}  // namespace k52::win32

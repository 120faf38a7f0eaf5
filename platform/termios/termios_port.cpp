// Only the kernel's termios2 here: glibc's <termios.h> clashes with it.
#include "platform/termios/termios_port.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace k52::termios {

namespace {

tcflag_t sizeFlag(std::uint8_t dataBits) {
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

std::uint8_t dataBitsOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

}  // namespace

bool applyRawFrame(int fd, const RawFrame& frame) {
  if (frame.baudRate == 0) return false;
  struct termios2 tio {};
  if (::ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_iflag &=
      ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &=
      ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= CLOCAL | CREAD | BOTHER | (BOTHER << IBSHIFT) | sizeFlag(frame.dataBits);
  switch (frame.parity) {
    case Parity::kOdd:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case Parity::kEven:
      tio.c_cflag |= PARENB;
      break;
    case Parity::kMark:
      tio.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case Parity::kSpace:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
    case Parity::kNone:
      break;
  }
  if (frame.twoStopBits) tio.c_cflag |= CSTOPB;
  tio.c_ispeed = frame.baudRate;
  tio.c_ospeed = frame.baudRate;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  return ::ioctl(fd, TCSETS2, &tio) == 0;
}

std::optional<RawFrame> currentFrame(int fd) {
  struct termios2 tio {};
  if (::ioctl(fd, TCGETS2, &tio) != 0) return std::nullopt;
  RawFrame frame;
  frame.baudRate = tio.c_ospeed;
  frame.dataBits = dataBitsOf(tio.c_cflag);
  if (tio.c_cflag & PARENB) {
    const bool odd = tio.c_cflag & PARODD;
    if (tio.c_cflag & CMSPAR) {
      frame.parity = odd ? Parity::kMark : Parity::kSpace;
    } else {
      frame.parity = odd ? Parity::kOdd : Parity::kEven;
    }
  }
  frame.twoStopBits = tio.c_cflag & CSTOPB;
  return frame;
}

bool setModemLine(int fd, int tiocmBit, bool on) {
  return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &tiocmBit) == 0;
}

std::optional<int> modemLines(int fd) {
  int lines = 0;
  if (::ioctl(fd, TIOCMGET, &lines) != 0) return std::nullopt;
  return lines;
}

bool setBreak(int fd, bool on) {
  return ::ioctl(fd, on ? TIOCSBRK : TIOCCBRK) == 0;
}

void flushInput(int fd) {
  ::ioctl(fd, TCFLSH, TCIFLUSH);
}

void flushOutput(int fd) {
  ::ioctl(fd, TCFLSH, TCOFLUSH);
}

std::uint32_t inputQueued(int fd) {
  int count = 0;
  return ::ioctl(fd, FIONREAD, &count) == 0 && count > 0 ? static_cast<std::uint32_t>(count) : 0;
}

std::uint32_t outputQueued(int fd) {
  int count = 0;
  return ::ioctl(fd, TIOCOUTQ, &count) == 0 && count > 0 ? static_cast<std::uint32_t>(count) : 0;
}

}  // namespace k52::termios

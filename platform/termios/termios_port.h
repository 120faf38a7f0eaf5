// A Linux tty in raw mode, set up through termios2 so that any baud rate
// goes (BOTHER: 14400, 28800 and the odd rates of a speed negotiation as
// well as the standard ones), with the modem lines and the break by ioctl.
// Both the kernel model's serial lines and the Win32 COM stand-in set their
// ttys up here.
//
// A pty carries no parity (Linux clears PARENB on it), no break and no modem
// lines: the calls succeed there with what the pty takes, and modemLines()
// reports nothing.
#pragma once

#include <cstdint>
#include <optional>

namespace k52::termios {

enum class Parity : std::uint8_t { kNone, kOdd, kEven, kMark, kSpace };

struct RawFrame {
  std::uint32_t baudRate = 9600;
  std::uint8_t dataBits = 8;  // 5..8
  Parity parity = Parity::kNone;
  // termios has no 1.5 stop bits; a UART set to 2 with 5 data bits sends 1.5.
  bool twoStopBits = false;
  bool operator==(const RawFrame&) const = default;
};

// Raw mode (no echo, no editing, no translation, no flow control, receiver
// on, modem lines ignored, reads return what is there) with `frame`. False
// for a rate of 0 or a descriptor that is no tty.
bool applyRawFrame(int fd, const RawFrame& frame);
// The frame a tty is set to now; of a pty master: what its slave's user set.
std::optional<RawFrame> currentFrame(int fd);

// TIOCM_DTR, TIOCM_RTS: raised or dropped. False where the tty has no such
// line (a pty).
bool setModemLine(int fd, int tiocmBit, bool on);
// TIOCM_ bits of the modem lines; nullopt where the tty has none (a pty).
std::optional<int> modemLines(int fd);
bool setBreak(int fd, bool on);

// Drops received (input), unsent (output) or both queues.
void flushInput(int fd);
void flushOutput(int fd);
// Bytes waiting in the input and output queues; 0 when unknown.
std::uint32_t inputQueued(int fd);
std::uint32_t outputQueued(int fd);

}  // namespace k52::termios

// The serial port driver's public interface: the device-control codes its
// clients send to "\Device\SerialN" and the structures they carry, with the
// DDK names and values.
//
// All codes are METHOD_BUFFERED. A SET request whose input is shorter than
// its structure, and a GET request whose output is shorter, fail with
// STATUS_BUFFER_TOO_SMALL.
#pragma once

#include "platform/nt/io.h"
#include "platform/nt/types.h"

namespace k52::nt {

inline constexpr DEVICE_TYPE FILE_DEVICE_SERIAL_PORT = 0x1B;

constexpr ULONG serialControlCode(ULONG function) {
  return CTL_CODE(FILE_DEVICE_SERIAL_PORT, function, METHOD_BUFFERED, FILE_ANY_ACCESS);
}

inline constexpr ULONG IOCTL_SERIAL_SET_BAUD_RATE = serialControlCode(1);
inline constexpr ULONG IOCTL_SERIAL_SET_QUEUE_SIZE = serialControlCode(2);
inline constexpr ULONG IOCTL_SERIAL_SET_LINE_CONTROL = serialControlCode(3);
inline constexpr ULONG IOCTL_SERIAL_SET_TIMEOUTS = serialControlCode(7);
inline constexpr ULONG IOCTL_SERIAL_GET_TIMEOUTS = serialControlCode(8);
inline constexpr ULONG IOCTL_SERIAL_PURGE = serialControlCode(19);
inline constexpr ULONG IOCTL_SERIAL_GET_BAUD_RATE = serialControlCode(20);
inline constexpr ULONG IOCTL_SERIAL_GET_LINE_CONTROL = serialControlCode(21);
inline constexpr ULONG IOCTL_SERIAL_GET_CHARS = serialControlCode(22);
inline constexpr ULONG IOCTL_SERIAL_SET_CHARS = serialControlCode(23);
inline constexpr ULONG IOCTL_SERIAL_GET_HANDFLOW = serialControlCode(24);
inline constexpr ULONG IOCTL_SERIAL_SET_HANDFLOW = serialControlCode(25);
inline constexpr ULONG IOCTL_SERIAL_GET_COMMSTATUS = serialControlCode(27);

inline constexpr ULONG MAXULONG = 0xFFFFFFFF;

struct SERIAL_BAUD_RATE {
  ULONG BaudRate;
};
using PSERIAL_BAUD_RATE = SERIAL_BAUD_RATE*;

inline constexpr UCHAR STOP_BIT_1 = 0;
inline constexpr UCHAR STOP_BITS_1_5 = 1;
inline constexpr UCHAR STOP_BITS_2 = 2;

inline constexpr UCHAR NO_PARITY = 0;
inline constexpr UCHAR ODD_PARITY = 1;
inline constexpr UCHAR EVEN_PARITY = 2;
inline constexpr UCHAR MARK_PARITY = 3;
inline constexpr UCHAR SPACE_PARITY = 4;

// WordLength 5 to 8 data bits; 1.5 stop bits go only with 5 data bits and
// 2 stop bits only with 6 to 8.
struct SERIAL_LINE_CONTROL {
  UCHAR StopBits;
  UCHAR Parity;
  UCHAR WordLength;
};
using PSERIAL_LINE_CONTROL = SERIAL_LINE_CONTROL*;

// Milliseconds. Reads: ReadIntervalTimeout is the longest gap between two
// bytes once the first has come; the total limit is ReadTotalTimeoutMultiplier
// x requested bytes + ReadTotalTimeoutConstant; zero turns a limit off. With
// ReadIntervalTimeout MAXULONG and both totals 0 a read returns at once with
// what is buffered; with ReadIntervalTimeout and ReadTotalTimeoutMultiplier
// MAXULONG and a constant between 0 and MAXULONG it returns at once with what
// is buffered, else with the first byte that comes, else after the constant.
// Writes: total limit WriteTotalTimeoutMultiplier x bytes +
// WriteTotalTimeoutConstant, zero = none. A limit that runs out completes the
// request with STATUS_TIMEOUT and the bytes moved so far.
struct SERIAL_TIMEOUTS {
  ULONG ReadIntervalTimeout;
  ULONG ReadTotalTimeoutMultiplier;
  ULONG ReadTotalTimeoutConstant;
  ULONG WriteTotalTimeoutMultiplier;
  ULONG WriteTotalTimeoutConstant;
};
using PSERIAL_TIMEOUTS = SERIAL_TIMEOUTS*;

struct SERIAL_CHARS {
  UCHAR EofChar;
  UCHAR ErrorChar;
  UCHAR BreakChar;
  UCHAR EventChar;
  UCHAR XonChar;
  UCHAR XoffChar;
};
using PSERIAL_CHARS = SERIAL_CHARS*;

// ControlHandShake bits.
inline constexpr ULONG SERIAL_DTR_CONTROL = 0x01;
inline constexpr ULONG SERIAL_DTR_HANDSHAKE = 0x02;
inline constexpr ULONG SERIAL_CTS_HANDSHAKE = 0x08;
inline constexpr ULONG SERIAL_DSR_HANDSHAKE = 0x10;
inline constexpr ULONG SERIAL_DCD_HANDSHAKE = 0x20;
inline constexpr ULONG SERIAL_DSR_SENSITIVITY = 0x40;
inline constexpr ULONG SERIAL_ERROR_ABORT = 0x80000000;
inline constexpr ULONG SERIAL_CONTROL_INVALID = 0x7FFFFF84;
// FlowReplace bits.
inline constexpr ULONG SERIAL_AUTO_TRANSMIT = 0x01;
inline constexpr ULONG SERIAL_AUTO_RECEIVE = 0x02;
inline constexpr ULONG SERIAL_ERROR_CHAR = 0x04;
inline constexpr ULONG SERIAL_NULL_STRIPPING = 0x08;
inline constexpr ULONG SERIAL_BREAK_CHAR = 0x10;
inline constexpr ULONG SERIAL_RTS_CONTROL = 0x40;
inline constexpr ULONG SERIAL_RTS_HANDSHAKE = 0x80;
inline constexpr ULONG SERIAL_XOFF_CONTINUE = 0x80000000;
inline constexpr ULONG SERIAL_FLOW_INVALID = 0x1FFFFF20;

// XonLimit and XoffLimit lie between 0 and the receive queue's size.
struct SERIAL_HANDFLOW {
  ULONG ControlHandShake;
  ULONG FlowReplace;
  LONG XonLimit;
  LONG XoffLimit;
};
using PSERIAL_HANDFLOW = SERIAL_HANDFLOW*;

// The receive queue grows to InSize bytes (it never shrinks); OutSize is
// accepted and ignored, writes go out from the request itself.
struct SERIAL_QUEUE_SIZE {
  ULONG InSize;
  ULONG OutSize;
};
using PSERIAL_QUEUE_SIZE = SERIAL_QUEUE_SIZE*;

// IOCTL_SERIAL_PURGE input, a ULONG of these bits (no others, at least one):
// TXABORT and RXABORT complete the pending writes or reads with
// STATUS_CANCELLED (and the bytes moved so far); RXCLEAR empties the receive
// queue; TXCLEAR drops what is still waiting to go out on the line.
inline constexpr ULONG SERIAL_PURGE_TXABORT = 0x01;
inline constexpr ULONG SERIAL_PURGE_RXABORT = 0x02;
inline constexpr ULONG SERIAL_PURGE_TXCLEAR = 0x04;
inline constexpr ULONG SERIAL_PURGE_RXCLEAR = 0x08;

// SERIAL_STATUS Errors bits; reading the status clears them.
inline constexpr ULONG SERIAL_ERROR_BREAK = 0x01;
inline constexpr ULONG SERIAL_ERROR_FRAMING = 0x02;
inline constexpr ULONG SERIAL_ERROR_OVERRUN = 0x04;
inline constexpr ULONG SERIAL_ERROR_QUEUEOVERRUN = 0x08;
inline constexpr ULONG SERIAL_ERROR_PARITY = 0x10;

struct SERIAL_STATUS {
  ULONG Errors;
  ULONG HoldReasons;
  ULONG AmountInInQueue;
  ULONG AmountInOutQueue;
  BOOLEAN EofReceived;
  BOOLEAN WaitForImmediate;
};
using PSERIAL_STATUS = SERIAL_STATUS*;

}  // namespace k52::nt

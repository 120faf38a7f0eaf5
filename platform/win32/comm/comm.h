// The Win32 serial communications API over the lines of this machine.
//
// A COM handle comes from CreateFileA on "COMn" (n = 1..15, also
// "\\.\COMn"); it is exclusive: a second open of the same port fails with
// ERROR_ACCESS_DENIED until the first handle is closed. What serves COMn:
//   - a line attached in this process (attachPort below: a simulated line in
//     tests and simulators), else
//   - the tty path of "COMn" under HKLM\Software\k52kit\Ports (com_ports.h),
//     set up with termios in raw mode.
// Opening another name "\\.\NAME" gives a device handle for DeviceIoControl:
// the provider registered in this process under NAME (device.h), else the
// device socket <prefix>/run/devices/NAME of another process.
//
// Reads and writes never block on a COM handle: the stand-in keeps no
// overlapped I/O and takes the read time-outs as they matter to callers that
// poll (ReadIntervalTimeout MAXDWORD with the other values 0 returns at once
// with what is there; other settings wait up to their total time-out).
//
// Errors: calls that fail return FALSE (or INVALID_HANDLE_VALUE) and set the
// thread's last error (GetLastError of kernel.h).
#pragma once

#include <cstdint>

#include "platform/win32/messaging/kernel.h"
#include "platform/win32/messaging/types.h"

namespace k52::win32 {

// The device control block: 28 bytes, laid out as on the platform. The
// platform's bit fields are one DWORD here; the masks below name them.
struct DCB {
  DWORD DCBlength = sizeof(DCB);
  DWORD BaudRate = 0;
  DWORD Flags = 0;
  WORD wReserved = 0;
  WORD XonLim = 0;
  WORD XoffLim = 0;
  BYTE ByteSize = 0;
  BYTE Parity = 0;
  BYTE StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  WORD wReserved1 = 0;
};
static_assert(sizeof(DCB) == 28);

inline constexpr DWORD DCB_fBinary = 0x0001;
inline constexpr DWORD DCB_fParity = 0x0002;
inline constexpr DWORD DCB_fOutxCtsFlow = 0x0004;
inline constexpr DWORD DCB_fOutxDsrFlow = 0x0008;
inline constexpr DWORD DCB_DTR_CONTROL_MASK = 0x0030;
inline constexpr DWORD DTR_CONTROL_ENABLE = 0x0010;
inline constexpr DWORD DTR_CONTROL_HANDSHAKE = 0x0020;
inline constexpr DWORD DCB_RTS_CONTROL_MASK = 0x3000;
inline constexpr DWORD RTS_CONTROL_ENABLE = 0x1000;
inline constexpr DWORD RTS_CONTROL_HANDSHAKE = 0x2000;

inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ODDPARITY = 1;
inline constexpr BYTE EVENPARITY = 2;
inline constexpr BYTE MARKPARITY = 3;
inline constexpr BYTE SPACEPARITY = 4;
inline constexpr BYTE ONESTOPBIT = 0;
inline constexpr BYTE ONE5STOPBITS = 1;
inline constexpr BYTE TWOSTOPBITS = 2;

struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout = 0;
  DWORD ReadTotalTimeoutMultiplier = 0;
  DWORD ReadTotalTimeoutConstant = 0;
  DWORD WriteTotalTimeoutMultiplier = 0;
  DWORD WriteTotalTimeoutConstant = 0;
};
inline constexpr DWORD MAXDWORD = 0xFFFFFFFF;

struct COMSTAT {
  DWORD Flags = 0;
  DWORD cbInQue = 0;
  DWORD cbOutQue = 0;
};

// EscapeCommFunction
inline constexpr DWORD SETRTS = 3;
inline constexpr DWORD CLRRTS = 4;
inline constexpr DWORD SETDTR = 5;
inline constexpr DWORD CLRDTR = 6;
inline constexpr DWORD SETBREAK = 8;
inline constexpr DWORD CLRBREAK = 9;

// GetCommModemStatus
inline constexpr DWORD MS_CTS_ON = 0x0010;
inline constexpr DWORD MS_DSR_ON = 0x0020;
inline constexpr DWORD MS_RING_ON = 0x0040;
inline constexpr DWORD MS_RLSD_ON = 0x0080;

// ClearCommError
inline constexpr DWORD CE_RXOVER = 0x0001;
inline constexpr DWORD CE_OVERRUN = 0x0002;
inline constexpr DWORD CE_RXPARITY = 0x0004;
inline constexpr DWORD CE_FRAME = 0x0008;
inline constexpr DWORD CE_BREAK = 0x0010;

// PurgeComm
inline constexpr DWORD PURGE_TXABORT = 0x0001;
inline constexpr DWORD PURGE_RXABORT = 0x0002;
inline constexpr DWORD PURGE_TXCLEAR = 0x0004;
inline constexpr DWORD PURGE_RXCLEAR = 0x0008;

inline constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000;
inline constexpr DWORD FILE_FLAG_NO_BUFFERING = 0x20000000;
inline constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;

// MsgWaitForMultipleObjects
inline constexpr DWORD QS_ALLINPUT = 0x04FF;

// Opens "COMn" or a device "\\.\NAME" as described above, or, for every
// other name, a mailslot (kernel.h). CreateFileA, ReadFile, WriteFile and
// CloseHandle of kernel.h serve COM handles too.
BOOL SetupComm(HANDLE comm, DWORD inQueue, DWORD outQueue);
BOOL GetCommState(HANDLE comm, DCB* dcb);
// Takes baud rate, byte size, parity (when fParity is set), stop bits and
// the DTR and RTS control; a rate or frame the line cannot carry fails with
// ERROR_INVALID_PARAMETER and leaves the line as it was.
BOOL SetCommState(HANDLE comm, const DCB* dcb);
BOOL GetCommTimeouts(HANDLE comm, COMMTIMEOUTS* timeouts);
BOOL SetCommTimeouts(HANDLE comm, const COMMTIMEOUTS* timeouts);
BOOL EscapeCommFunction(HANDLE comm, DWORD function);
BOOL SetCommBreak(HANDLE comm);
BOOL ClearCommBreak(HANDLE comm);
BOOL GetCommModemStatus(HANDLE comm, DWORD* status);
// The CE_ bits seen since the last call (then cleared) and the queue counts.
BOOL ClearCommError(HANDLE comm, DWORD* errors, COMSTAT* stat);
BOOL PurgeComm(HANDLE comm, DWORD flags);
// A device handle's IO control; `returned` gets the output byte count.
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     DWORD* returned, void* overlapped);

// Milliseconds of the attached clock (user.h's attach), wrapping at 2^32.
DWORD GetTickCount();

// Waits up to `timeoutMs` for input on one of the COM handles
// (WAIT_OBJECT_0 + its index) or for a message in the calling thread's queue
// (WAIT_OBJECT_0 + count). WAIT_TIMEOUT when nothing came, WAIT_FAILED for a
// handle that is not a COM handle. On a VirtualClock a wait that finds
// nothing moves time to the next due event of the lines, at most 1 ms and at
// most to the end of the wait, so busy-waits end and runs replay.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs,
                                DWORD wakeMask);

}  // namespace k52::win32

#include <memory>

#include "platform/win32/comm/comm_line.h"

namespace k52::win32 {

// COMn (1..15) in this process is served by `line` from the next open on;
// null removes the attachment (the registry's path serves it again).
void attachPort(unsigned n, std::shared_ptr<CommLine> line);

}  // namespace k52::win32

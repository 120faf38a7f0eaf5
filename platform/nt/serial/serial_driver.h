// The platform's serial port driver on the kernel model: one exclusive
// device "\Device\SerialN" (link "\DosDevices\COM<N+1>") per port that has a
// line behind it.
//
// Lines come from two places, looked at when SerialDriverEntry runs:
//   - attachLine(): a line a host or test set up (a SimulatedLine with a
//     device model, or any SerialLine);
//   - the registry of the kernel's prefix (port_config.h): a Linux tty path
//     per COM port, served by a TtyLine; an attached line takes precedence.
//
// Requests (see ntddser.h for the device controls and time-outs):
//   IRP_MJ_READ   completes when the requested count has arrived, or by the
//                 read time-outs with the bytes that came and STATUS_TIMEOUT;
//   IRP_MJ_WRITE  completes when the last character has left the line at
//                 the port's baud rate and frame, or by the write time-out
//                 with STATUS_TIMEOUT and the characters sent;
//   one read and one write run at a time, later ones wait in order; waiting
//   and running requests can be cancelled (STATUS_CANCELLED with the bytes
//   moved so far). Closing the port (IRP_MJ_CLEANUP) cancels what is pending.
// The device uses buffered I/O.
#pragma once

#include <memory>
#include <string>

#include "platform/nt/ntddk.h"
#include "platform/nt/serial/ntddser.h"
#include "platform/nt/serial/serial_line.h"

namespace k52::nt::serial {

// COM1 to COM15: index 0 to 14.
inline constexpr unsigned kPortCount = 15;
// Bytes the receive queue holds until IOCTL_SERIAL_SET_QUEUE_SIZE grows it;
// bytes that find it full are dropped and reported as SERIAL_ERROR_QUEUEOVERRUN.
inline constexpr ULONG kDefaultReceiveQueue = 4096;

// "\Device\Serial<index>" and "\DosDevices\COM<index + 1>".
std::wstring deviceName(unsigned index);
std::wstring dosName(unsigned index);

// Puts `line` behind port `index` (null removes it) for the next
// SerialDriverEntry. Throws std::out_of_range for an index beyond COM15.
void attachLine(unsigned index, std::shared_ptr<SerialLine> line);
// Removes every attached line.
void detachLines();

// DriverEntry: creates the port devices; unload deletes them. Fails with
// STATUS_DEVICE_CONFIGURATION_ERROR when no port has a line.
NTSTATUS SerialDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

}  // namespace k52::nt::serial

// The serial driver's per-port state, shared by its dispatch routines.
// Internal to the driver.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "platform/nt/ntddk.h"
#include "platform/nt/serial/ntddser.h"
#include "platform/nt/serial/serial_line.h"

namespace k52::nt::serial {

// Times are interrupt time, 100 ns units; 0 = not armed.
struct Port {
  unsigned index = 0;
  std::shared_ptr<SerialLine> line;
  bool open = false;

  LineSettings settings;
  SERIAL_TIMEOUTS timeouts{};
  SERIAL_CHARS chars{};
  SERIAL_HANDFLOW handflow{};

  std::deque<std::uint8_t> received;
  ULONG queueSize = 0;
  ULONG errors = 0;

  // The read being served, and those waiting behind it.
  PIRP currentRead = nullptr;
  std::deque<PIRP> reads;
  ULONG readDone = 0;
  // Its normal completion lost the race with a cancel: the cancel routine
  // completes it.
  bool readFinished = false;
  bool readReturnsOnFirstByte = false;
  ULONG readInterval = 0;  // ms
  ULONGLONG readTotalDue = 0;
  ULONGLONG readIntervalDue = 0;

  PIRP currentWrite = nullptr;
  std::deque<PIRP> writes;
  bool writeFinished = false;
  ULONGLONG writeStart = 0;
  ULONGLONG writeEnd = 0;
  ULONGLONG writeTimeoutDue = 0;
};

struct PortExtension {
  Port* port;
  KSPIN_LOCK lock;
  KTIMER readTotalTimer;
  KDPC readTotalDpc;
  KTIMER readIntervalTimer;
  KDPC readIntervalDpc;
  KTIMER writeTimer;
  KDPC writeDpc;
};

inline PortExtension* portExtension(PDEVICE_OBJECT device) {
  return static_cast<PortExtension*>(device->DeviceExtension);
}

// Whether the driver unloaded under a still open handle: the device then
// only takes the handle's cleanup and close.
inline bool portGone(PDEVICE_OBJECT device) {
  return portExtension(device)->port == nullptr;
}

// Requests to complete once the port lock is released.
class Completions {
 public:
  void add(PIRP irp, NTSTATUS status, ULONG_PTR information);
  void completeAll();

 private:
  struct Entry {
    PIRP irp;
    NTSTATUS status;
    ULONG_PTR information;
  };
  std::vector<Entry> entries_;
};

NTSTATUS completeRequest(PIRP irp, NTSTATUS status, ULONG_PTR information);

// Read and write paths (serial_read.cpp, serial_write.cpp). The functions
// taking a Completions run with the port lock held.
NTSTATUS dispatchRead(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS dispatchWrite(PDEVICE_OBJECT device, PIRP irp);
void receiveBytes(PDEVICE_OBJECT device, std::span<const std::uint8_t> bytes);
void abortReads(PortExtension& ext, Completions& done);
void abortWrites(PortExtension& ext, Completions& done);
// Completes the current read or write with `status` and the bytes moved so
// far and starts the next; the caller owns the request's cancellation (it
// claimed it, or it is the cancel routine).
void endCurrentRead(PortExtension& ext, NTSTATUS status, Completions& done);
void endCurrentWrite(PortExtension& ext, NTSTATUS status, Completions& done);
// Characters of the current write that have left the line by now.
ULONG charactersSent(const Port& port);
void initializeReadTimers(PDEVICE_OBJECT device);
void initializeWriteTimer(PDEVICE_OBJECT device);
// Marks a read or write pending and queues it with the cancel routine set;
// false when it was cancelled already (then it is in `done`).
bool queueCancelable(std::deque<PIRP>& queue, PIRP irp, Completions& done);
// Clears the cancel routine of a request about to complete; false when a
// cancel owns it now.
bool claim(PIRP irp);
// Cancels every request of `queue` it can claim; those whose cancel routine
// is already running stay queued for it.
void cancelQueued(std::deque<PIRP>& queue, Completions& done);

// Device controls (serial_control.cpp), at PASSIVE_LEVEL.
NTSTATUS dispatchControl(PDEVICE_OBJECT device, PIRP irp);

}  // namespace k52::nt::serial

// The keyboard port and class drivers below any filter, as one small driver
// on the kernel model: "\Device\KeyboardClass0".
//
// The keyboard interrupt reads the controller's data port, turns each scan
// code into a KEYBOARD_INPUT_DATA record (0xE0 / 0xE1 prefixes become flags
// of the record that follows) and appends it to the class buffer. A read
// takes as many buffered records as fit at once; with none buffered it
// waits as the device's current request (IoStartPacket), and the next
// interrupt completes it. Records that arrive while no read is waiting pile
// up and go out together with the next read, so one read often carries
// several records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/nt/ntddk.h"

namespace k52::nt::kbdclass {

inline constexpr const wchar_t* kClassDeviceName = L"\\Device\\KeyboardClass0";
// Records the class buffer holds; later ones are dropped and counted.
inline constexpr std::size_t kBufferRecords = 100;

// DriverEntry of the model: creates the class device.
NTSTATUS KeyboardClassEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

// The keyboard interrupt service routine; it reads ports 0x64 and 0x60.
// Runs as an interrupt (a Dispatch event), never from a device model.
void KeyboardInterrupt();

// Completes the read waiting at the class device, if any, with `status`, as
// a device going away does. Used to let a keystroke reader end.
void CompleteWaitingRead(NTSTATUS status);

std::size_t droppedRecords();

}  // namespace k52::nt::kbdclass

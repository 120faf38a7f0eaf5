// The reader driver hosted as the system start would run it, on the real
// clock: the kernel model with the prefix's registry, the keyboard's ports
// and interrupt (when the prefix has a keyboard), the keyboard class driver
// with the system's keystroke reader, the serial port driver (when the
// prefix maps COM ports), then vrlPCSC and varnel, and varnel's device
// opened. Closing removes and unloads them in reverse.
//
// One host per process: the kernel model is process-wide.
#pragma once

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <span>
#include <string>

#include "drivers/ifd/keyboard_link.h"
#include "platform/nt/kbdclass/keystroke_reader.h"
#include "platform/nt/kernel.h"
#include "platform/win32/prefix.h"

namespace k52::ifd {

class ReaderHost {
 public:
  struct Reply {
    nt::NTSTATUS status;
    std::size_t bytes;  // output bytes returned
  };

  // Starts the drivers and opens the reader. Throws std::runtime_error,
  // naming what failed, when varnel created no reader.
  ReaderHost(win32::Prefix prefix, const KeyboardSource& keyboard);
  ~ReaderHost();
  ReaderHost(const ReaderHost&) = delete;
  ReaderHost& operator=(const ReaderHost&) = delete;

  // A device-control request to the reader, as the resource manager sends
  // it; blocks until varnel completes it.
  Reply control(nt::ULONG code, std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

  // IS_PRESENT (present) or IS_ABSENT: returns when the card is there (or
  // gone), or with STATUS_DEVICE_NOT_CONNECTED once close() has begun. The reader
  // completes a waiting request when the handle closes.
  nt::NTSTATUS waitForCard(bool present);

  // Closes the reader's handle, which releases a waiting tracking request;
  // later requests fail with STATUS_DEVICE_NOT_CONNECTED.
  void closeHandle();
  // closeHandle(), then unloads the drivers. Threads that wait in the
  // kernel must have returned by then. Called by the destructor; harmless
  // twice.
  void close();

  bool keyboardConnected() const { return keyboard_ != nullptr; }

 private:
  void start(const KeyboardSource& keyboard);
  void unloadDrivers();

  win32::Prefix prefix_;
  std::unique_ptr<KeyboardLink> keyboard_;
  std::unique_ptr<nt::PortDevice> emptyController_;
  std::unique_ptr<nt::Kernel> kernel_;
  nt::KeystrokeReader keystrokes_;
  bool classLoaded_ = false;
  bool serialLoaded_ = false;
  bool channelLoaded_ = false;
  bool readerLoaded_ = false;

  // Requests hold it shared; close() takes it exclusively to end the handle.
  std::shared_mutex handleMutex_;
  std::unique_ptr<nt::DeviceHandle> handle_;
};

}  // namespace k52::ifd

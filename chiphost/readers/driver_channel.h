// The driver channel: the outside serial-sharing driver "\\.\pvkms.Vxd",
// opened once per process, which owns one COM port (it shares it with
// another device of the PC) and forwards reader traffic when asked.
//
// After the last write of a transfer the channel waits four quiet ticks of
// its 100 ms timer (about 400 ms), then restores the driver: the reader is
// brought back to at least 38400 through the card's baud callback when the
// driver runs slower, the driver gets the timing frame for its rate and the
// context window to post 2023 to, and the channel generation moves on
// (readers on the channel compare it to learn that the driver had the line).
//
// Without the driver every call does nothing and returns 0 or -1, and no
// port chooses the channel. Single thread: the timer is a window-message
// timer of the thread that called start(), its ticks come through the idle
// event's pump.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "platform/win32/messaging/types.h"

namespace k52::chiphost {

inline constexpr const char* kDriverDevice = "\\\\.\\pvkms.Vxd";
inline constexpr win32::UINT kDriverTimerMs = 100;
inline constexpr int kDriverPollTicks = 11;
inline constexpr int kRestoreCountdown = 3;
inline constexpr win32::DWORD kDriverTransferMessage = 2023;

// IO control codes of the driver.
enum DriverIo : win32::DWORD {
  kIoSetState = 1,
  kIoTimingFrame = 2,
  kIoWrite = 4,
  kIoAvailable = 5,
  kIoRead = 6,
  kIoRegister = 7,
  kIoGetPort = 8,
  kIoPurge = 9,
  kIoPoll = 11,
  kIoStatus = 12,
};

using DriverRecord = std::array<std::uint8_t, 32>;
// The settings record of code 1: length 32, baud, 5, data bits, parity, stop
// bits at bytes 0, 4, 8, 22, 23, 24.
DriverRecord driverRecord(std::int32_t baud, std::uint8_t dataBits, std::uint8_t parity,
                          std::uint8_t stopBits);
// The timing frame for rate r (r <= 0 counts as 9600).
std::vector<std::uint8_t> timingFrame(std::int32_t r);

class DriverChannel {
 public:
  using BaudCallback = std::function<void(std::int32_t baud)>;

  static DriverChannel& instance();

  // DrvStart: clears the state and opens the driver; with it, starts the
  // timer. `showBusy` shows and hides the busy indicator.
  void start(std::function<void(bool)> showBusy = {});
  // DrvStop: kills the timer and closes the driver.
  void stop();
  bool present() const { return handle_ != nullptr; }

  bool setState(const DriverRecord& record);  // code 1
  // `owner` names whose callback it is, for forget().
  int write(win32::HWND context, std::span<const std::uint8_t> bytes, BaudCallback callback,
            const void* owner = nullptr);  // 4
  // The callback of `owner` is not called any more (its port closes or goes).
  void forget(const void* owner);
  std::uint16_t available();                                         // 5
  int read(std::span<std::uint8_t> buffer);                          // 6
  bool registerContext(win32::HWND context, std::uint32_t message);  // 7
  int port();                                                        // 8
  void purge();                                                      // 9
  void poll();                                                       // 11
  int status();                                                      // 12, -1 without
  void restore();

  // The timer's tick (public for the timer procedure).
  void tick();

  std::int32_t driverBaud() const { return driverBaud_; }
  std::uint8_t generation() const { return generation_; }
  bool restorePending() const { return restorePending_; }
  int countdown() const { return countdown_; }

 private:
  bool io(win32::DWORD code, std::span<const std::uint8_t> in, std::span<std::uint8_t> out,
          win32::DWORD* returned);

  win32::HANDLE handle_ = nullptr;
  win32::UINT_PTR timer_ = 0;
  std::int32_t driverBaud_ = 0;
  int countdown_ = -1;
  bool restorePending_ = true;
  int ticks_ = 0;
  std::uint8_t generation_ = 0;
  bool busyShown_ = false;
  // The baud callback inside a restore pumps messages; a tick then must not
  // restore a second time.
  bool restoring_ = false;
  BaudCallback pendingCallback_;
  const void* pendingOwner_ = nullptr;
  win32::HWND pendingContext_ = 0;
  std::function<void(bool)> showBusy_;
};

}  // namespace k52::chiphost

// `TComPort`: the card server's only path to a reader. A port runs either
// directly on a Win32 COM handle ("COMn") or over the driver channel
// (driver_channel.h), which a port chooses only while a reader detection
// opens it (the search flag) and the driver serves that very port number.
//
// Several port objects may use one COM number (one per slot of a two-slot
// reader): all open ports are in one process-wide registry, share one
// handle, and the last one closes it. A second object for an open number
// takes the handle over without touching the line settings.
//
// Waits never block the message loop: every turn of a wait or read loop
// calls the idle event (as a port wait) and then waits at most 1 ms on the
// handle, so timer ticks and client requests are dispatched during a
// transfer and nothing spins.
//
// Errors: opening or configuring raises Excpt "1001". Read time-outs and
// short writes are no errors: they return false after purging and checking
// the port, and leave their mark in the error mask (0x200 for a time-out)
// and the error count. A byte received with a parity or framing error fails
// its ReadByte like a time-out (without the 0x200 mark).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "platform/win32/messaging/types.h"

namespace k52::chiphost {

inline const win32::HANDLE kClosedHandle = win32::INVALID_HANDLE_VALUE;
// The handle of a port on the driver channel.
inline const win32::HANDLE kDriverHandle = reinterpret_cast<win32::HANDLE>(990);
inline constexpr std::uint32_t kTimeoutMark = 0x200;
inline constexpr std::uint32_t kBreakBit = 0x10;
inline constexpr std::size_t kSendBufferSize = 1000;
inline constexpr std::uint16_t kFlushAt = 998;
inline constexpr std::uint32_t kMinimumReadTimeout = 180;
inline constexpr std::uint32_t kPulseMs = 60;

class TComPort {
 public:
  // The owner's message pump; `portWait` is true for the port's own waits.
  using IdleEvent = std::function<void(bool portWait)>;
  using BaudCallback = std::function<void(std::int32_t baud)>;

  TComPort();  // Create
  ~TComPort();
  TComPort(const TComPort&) = delete;
  TComPort& operator=(const TComPort&) = delete;

  void setIdleEvent(IdleEvent idle) { idle_ = std::move(idle); }
  void setBaudCallback(BaudCallback callback) { baudCallback_ = std::move(callback); }
  void setDriverContext(win32::HWND context) { driverContext_ = context; }
  void setSearchFlag(bool on) { searchFlag_ = on; }

  void SetPortNumber(std::int16_t n);
  void Open();
  void Reopen();
  void Close();

  void SetBaudrate(std::int32_t baud);
  void SetStopBits(std::uint8_t stopBits);
  void SetParity(std::uint8_t parity);
  void SetLineParams(std::int32_t baud, std::uint8_t stopBits, std::uint8_t parity);
  void SetDsrFlow(bool on);
  void SetDtr(bool on);
  void SetRts(bool on);
  void SetBreakLine(bool on);
  bool GetDsrLine();

  int CheckErrors();
  int InputCount() { return CheckErrors(); }
  bool PurgeInput();
  bool PurgeOutput();
  bool Purge();

  bool ReadByte(std::uint8_t& byte, std::uint32_t timeoutMs);
  std::vector<std::uint8_t> ReadBytes(std::size_t count, std::uint32_t timeoutMs);
  bool WriteByte(std::uint8_t byte);
  void BeginBuffer() { bufferIndex_ = 1; }
  bool FlushBuffer();
  bool SendFrame(std::span<const std::uint8_t> bytes);
  bool SendRaw(std::span<const std::uint8_t> bytes);
  void ResetPulse();
  std::uint32_t WaitMs(std::uint32_t ms);
  void CheckPort();
  // Counts the registry entries for n; when there are none (and n is not
  // the driver's port with acceptDriver), opens n once exclusively and
  // closes it again, without reporting a failure.
  static int ProbePort(std::int16_t n, bool acceptDriver);
  int SharedCount() const { return sharedCount(portNumber_); }
  // The baud rate another object of this number runs the shared line at.
  std::optional<std::int32_t> sharedBaudRate() const;
  bool DriverBusy();

  std::int16_t portNumber() const { return portNumber_; }
  std::int32_t baudRate() const { return baudRate_; }
  std::uint8_t parity() const { return parity_; }
  std::uint8_t stopBits() const { return stopBits_; }
  bool dtr() const { return dtr_; }
  bool rts() const { return rts_; }
  bool driverFlag() const { return driverFlag_; }
  bool isOpen() const { return handle_ != kClosedHandle; }
  win32::HANDLE handle() const { return handle_; }
  std::uint32_t errorMask() const { return errorMask_; }
  void clearErrorBits(std::uint32_t bits) { errorMask_ &= ~bits; }
  std::int32_t errorCount() const { return errorCount_; }
  std::uint8_t xorSum() const { return xorSum_; }
  std::uint8_t& rollingChecksum() { return rolling_; }
  void clearXorSum() { xorSum_ = 0; }

  static const std::vector<TComPort*>& registry();

 private:
  static int sharedCount(std::int16_t n);
  static win32::HANDLE createHandle(std::int16_t n);
  void ApplySettings();
  void assertLines();
  void addToRegistry();
  void removeFromRegistry();
  void account(std::uint8_t byte);
  void idle();
  // At most 1 ms on the handle (or the clock, on the driver channel).
  void waitTurn(std::uint32_t leftMs);

  IdleEvent idle_;
  std::int16_t portNumber_ = 0;
  std::int16_t outputQueue_ = 2000;
  std::int16_t inputQueue_ = 2000;
  std::int32_t baudRate_ = 9600;
  std::uint8_t dataBits_ = 8;
  std::uint8_t stopBits_ = 0;
  std::uint8_t parity_ = 0;
  bool hardwareHandshake_ = false;
  bool ctsFlow_ = false;
  bool dsrFlow_ = false;
  bool dtr_ = false;
  bool rts_ = false;
  std::uint8_t modemScratch_ = 0;
  std::uint8_t xorSum_ = 0;
  std::uint8_t rolling_ = 0;
  std::int32_t errorCount_ = 0;
  std::uint32_t errorMask_ = 0;
  std::array<std::uint8_t, kSendBufferSize> sendBuffer_{};
  std::uint16_t bufferIndex_ = 0;
  bool searchFlag_ = false;
  win32::HWND driverContext_ = 0;
  bool driverFlag_ = false;
  win32::HANDLE handle_ = kClosedHandle;
  BaudCallback baudCallback_;
  // The CE_ bits of the last CheckErrors.
  std::uint32_t lastErrors_ = 0;
};

}  // namespace k52::chiphost

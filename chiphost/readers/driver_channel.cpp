#include "chiphost/readers/driver_channel.h"

#include <cmath>

#include "chiphost/readers/checksum.h"
#include "platform/win32/comm/comm.h"
#include "platform/win32/messaging/user.h"

namespace k52::chiphost {

namespace {

void putU32(std::uint8_t* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void timerProc(win32::HWND, win32::UINT, win32::UINT_PTR, win32::DWORD) {
  DriverChannel::instance().tick();
}

}  // namespace

DriverRecord driverRecord(std::int32_t baud, std::uint8_t dataBits, std::uint8_t parity,
                          std::uint8_t stopBits) {
  DriverRecord record{};
  putU32(&record[0], 32);
  putU32(&record[4], static_cast<std::uint32_t>(baud));
  putU32(&record[8], 5);
  record[22] = dataBits;
  record[23] = parity;
  record[24] = stopBits;
  return record;
}

std::vector<std::uint8_t> timingFrame(std::int32_t r) {
  // A driver that never reported a rate (0) would divide by zero; it counts
  // as 9600 like a negative one.
  if (r <= 0) r = 9600;
  const double ratio = 115200.0 / r;
  std::vector<std::uint8_t> frame;
  if (r > 59000) frame.push_back(5);
  frame.push_back(0x6E);
  frame.push_back(static_cast<std::uint8_t>(static_cast<long>(std::lround(ratio * 2.2))));
  frame.push_back(static_cast<std::uint8_t>(static_cast<long>(std::lround(ratio * 4.4))));
  frame.push_back(0x00);
  frame.push_back(0x0E);
  frame.push_back(rollChecksum(0, frame));
  return frame;
}

DriverChannel& DriverChannel::instance() {
  static DriverChannel channel;
  return channel;
}

void DriverChannel::start(std::function<void(bool)> showBusy) {
  stop();
  driverBaud_ = 0;
  countdown_ = -1;
  restorePending_ = true;
  ticks_ = 0;
  generation_ = 0;
  busyShown_ = false;
  restoring_ = false;
  pendingCallback_ = nullptr;
  pendingOwner_ = nullptr;
  pendingContext_ = 0;
  showBusy_ = std::move(showBusy);
  win32::HANDLE h =
      win32::CreateFileA(kDriverDevice, win32::GENERIC_READ | win32::GENERIC_WRITE,
                         win32::FILE_SHARE_READ | win32::FILE_SHARE_WRITE, nullptr,
                         win32::OPEN_EXISTING, win32::FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == win32::INVALID_HANDLE_VALUE) return;
  handle_ = h;
  timer_ = win32::SetTimer(0, 0, kDriverTimerMs, timerProc);
}

void DriverChannel::stop() {
  if (timer_ != 0) win32::KillTimer(0, timer_);
  timer_ = 0;
  if (handle_ != nullptr) win32::CloseHandle(handle_);
  handle_ = nullptr;
}

bool DriverChannel::io(win32::DWORD code, std::span<const std::uint8_t> in,
                       std::span<std::uint8_t> out, win32::DWORD* returned) {
  if (handle_ == nullptr) return false;
  win32::DWORD n = 0;
  const bool ok = win32::DeviceIoControl(handle_, code, const_cast<std::uint8_t*>(in.data()),
                                         static_cast<win32::DWORD>(in.size()), out.data(),
                                         static_cast<win32::DWORD>(out.size()), &n, nullptr);
  if (returned) *returned = n;
  return ok;
}

bool DriverChannel::setState(const DriverRecord& record) {
  DriverRecord back{};
  win32::DWORD n = 0;
  if (!io(kIoSetState, record, back, &n)) return false;
  if (n >= 8) {
    driverBaud_ = static_cast<std::int32_t>(back[4] | back[5] << 8 | back[6] << 16 |
                                            std::uint32_t{back[7]} << 24);
  }
  return true;
}

int DriverChannel::write(win32::HWND context, std::span<const std::uint8_t> bytes,
                         BaudCallback callback, const void* owner) {
  pendingCallback_ = std::move(callback);
  pendingOwner_ = owner;
  pendingContext_ = context;
  if (handle_ == nullptr || bytes.empty()) return -1;
  restorePending_ = true;
  countdown_ = kRestoreCountdown;
  if (!busyShown_) {
    busyShown_ = true;
    if (showBusy_) showBusy_(true);
  }
  if (!io(kIoWrite, bytes, {}, nullptr)) return -1;
  return static_cast<int>(bytes.size());
}

void DriverChannel::forget(const void* owner) {
  if (owner == nullptr || owner != pendingOwner_) return;
  pendingCallback_ = nullptr;
  pendingOwner_ = nullptr;
}

std::uint16_t DriverChannel::available() {
  std::uint8_t out[2] = {};
  win32::DWORD n = 0;
  if (!io(kIoAvailable, {}, out, &n) || n < 2) return 0;
  return static_cast<std::uint16_t>(out[0] | out[1] << 8);
}

int DriverChannel::read(std::span<std::uint8_t> buffer) {
  win32::DWORD n = 0;
  if (!io(kIoRead, {}, buffer, &n)) return 0;
  return static_cast<int>(n);
}

bool DriverChannel::registerContext(win32::HWND context, std::uint32_t message) {
  std::uint8_t in[8];
  putU32(&in[0], context);
  putU32(&in[4], message);
  return io(kIoRegister, in, {}, nullptr);
}

int DriverChannel::port() {
  std::uint8_t out[1] = {};
  win32::DWORD n = 0;
  if (!io(kIoGetPort, {}, out, &n) || n < 1) return 0;
  return out[0];
}

void DriverChannel::purge() {
  std::uint8_t out[2];
  io(kIoPurge, {}, out, nullptr);
}

void DriverChannel::poll() {
  io(kIoPoll, {}, {}, nullptr);
}

int DriverChannel::status() {
  std::uint8_t out[1] = {};
  win32::DWORD n = 0;
  if (!io(kIoStatus, {}, out, &n) || n < 1) return -1;
  return out[0];
}

void DriverChannel::restore() {
  if (!restorePending_ || restoring_) return;
  if (driverBaud_ < 38400 && pendingCallback_) {
    restoring_ = true;
    pendingCallback_(38400);
    restoring_ = false;
  }
  restorePending_ = false;
  countdown_ = -1;
  if (busyShown_) {
    busyShown_ = false;
    if (showBusy_) showBusy_(false);
  }
  const auto frame = timingFrame(driverBaud_);
  io(kIoTimingFrame, frame, {}, nullptr);
  registerContext(pendingContext_, kDriverTransferMessage);
  ++generation_;
}

void DriverChannel::tick() {
  if (++ticks_ >= kDriverPollTicks) {
    poll();
    ticks_ = 0;
  }
  if (countdown_ >= 0 && --countdown_ < 0) restore();
}

}  // namespace k52::chiphost

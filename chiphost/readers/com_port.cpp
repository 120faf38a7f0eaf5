#include "chiphost/readers/com_port.h"

#include <algorithm>
#include <string>

#include "chiphost/core/excpt.h"
#include "chiphost/readers/checksum.h"
#include "chiphost/readers/driver_channel.h"
#include "platform/win32/comm/comm.h"

namespace k52::chiphost {

namespace {

std::vector<TComPort*>& ports() {
  static auto* list = new std::vector<TComPort*>;
  return *list;
}

DriverChannel& channel() {
  return DriverChannel::instance();
}

[[noreturn]] void fail() {
  throw Excpt("1001");
}

}  // namespace

TComPort::TComPort() = default;

TComPort::~TComPort() {
  Close();
  // The card behind the callback goes with this port.
  channel().forget(this);
}

const std::vector<TComPort*>& TComPort::registry() {
  return ports();
}

int TComPort::sharedCount(std::int16_t n) {
  return static_cast<int>(std::count_if(ports().begin(), ports().end(),
                                        [n](TComPort* p) { return p->portNumber_ == n; }));
}

std::optional<std::int32_t> TComPort::sharedBaudRate() const {
  for (const TComPort* p : ports()) {
    if (p != this && p->portNumber_ == portNumber_) return p->baudRate_;
  }
  return std::nullopt;
}

void TComPort::addToRegistry() {
  if (std::find(ports().begin(), ports().end(), this) == ports().end()) ports().push_back(this);
}

void TComPort::removeFromRegistry() {
  std::erase(ports(), this);
}

win32::HANDLE TComPort::createHandle(std::int16_t n) {
  const std::string name = "COM" + std::to_string(n);
  win32::HANDLE h = win32::CreateFileA(
      name.c_str(), win32::GENERIC_READ | win32::GENERIC_WRITE, 0, nullptr, win32::OPEN_EXISTING,
      win32::FILE_FLAG_WRITE_THROUGH | win32::FILE_FLAG_NO_BUFFERING, nullptr);
  if (h == win32::INVALID_HANDLE_VALUE) return kClosedHandle;
  if (!win32::SetupComm(h, 2000, 2000)) {
    win32::CloseHandle(h);
    return kClosedHandle;
  }
  return h;
}

void TComPort::SetPortNumber(std::int16_t n) {
  if (n == portNumber_) return;
  portNumber_ = n;
  Open();
}

void TComPort::Open() {
  removeFromRegistry();
  Close();
  if (portNumber_ == 0) return;
  for (TComPort* other : ports()) {
    if (other->portNumber_ == portNumber_) {
      handle_ = other->handle_;
      driverFlag_ = other->driverFlag_;
      addToRegistry();
      return;
    }
  }
  driverFlag_ = false;
  if (searchFlag_ && channel().present() && channel().port() == portNumber_) {
    driverFlag_ = true;
    handle_ = kDriverHandle;
    addToRegistry();
    ApplySettings();
    return;
  }
  handle_ = createHandle(portNumber_);
  if (handle_ == kClosedHandle) {
    portNumber_ = 0;
    fail();
  }
  addToRegistry();
  ApplySettings();
}

void TComPort::Reopen() {
  if (driverFlag_ || handle_ == kClosedHandle) return;
  // The handle is shared by every entry of this number: close it for all of
  // them, or the exclusive open below could not succeed.
  win32::CloseHandle(handle_);
  const win32::HANDLE fresh = createHandle(portNumber_);
  for (TComPort* p : ports()) {
    if (p->portNumber_ == portNumber_) p->handle_ = fresh;
  }
  handle_ = fresh;
  if (handle_ == kClosedHandle) return;
  try {
    ApplySettings();
  } catch (const Excpt&) {
    // A port that came back unusable is found by the next CheckPort.
  }
}

void TComPort::Close() {
  removeFromRegistry();
  if (handle_ != kClosedHandle && sharedCount(portNumber_) == 0) {
    Purge();
    if (driverFlag_) {
      // The card that owns this port is closing it (or going): its baud
      // callback must not run inside the close.
      channel().forget(this);
      channel().restore();
    } else {
      win32::CloseHandle(handle_);
    }
  }
  handle_ = kClosedHandle;
}

void TComPort::ApplySettings() {
  if (handle_ == kClosedHandle) return;
  if (driverFlag_) {
    if (!channel().setState(driverRecord(baudRate_, dataBits_, parity_, stopBits_))) fail();
    return;
  }
  win32::DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = static_cast<win32::DWORD>(baudRate_);
  dcb.ByteSize = dataBits_;
  dcb.Parity = parity_;
  dcb.StopBits = stopBits_;
  dcb.Flags = win32::DCB_fBinary;
  if (parity_ != 0) dcb.Flags |= win32::DCB_fParity;
  if (ctsFlow_) dcb.Flags |= win32::DCB_fOutxCtsFlow;
  if (dsrFlow_) dcb.Flags |= win32::DCB_fOutxDsrFlow;
  if (dtr_) dcb.Flags |= win32::DTR_CONTROL_ENABLE;
  if (hardwareHandshake_) {
    dcb.Flags |= win32::RTS_CONTROL_HANDSHAKE;
    dcb.XonLim = 2000;
    dcb.XoffLim = 1000;
  } else if (rts_) {
    dcb.Flags |= win32::RTS_CONTROL_ENABLE;
  }
  const win32::COMMTIMEOUTS none{};
  if (!win32::SetCommTimeouts(handle_, &none) || !win32::SetCommState(handle_, &dcb)) fail();
  assertLines();
}

void TComPort::assertLines() {
  if (handle_ == kClosedHandle || driverFlag_) return;
  win32::EscapeCommFunction(handle_, dtr_ ? win32::SETDTR : win32::CLRDTR);
  win32::EscapeCommFunction(handle_, rts_ ? win32::SETRTS : win32::CLRRTS);
}

void TComPort::SetBaudrate(std::int32_t baud) {
  if (baud == baudRate_) return;
  baudRate_ = baud;
  ApplySettings();
}

void TComPort::SetStopBits(std::uint8_t stopBits) {
  if (stopBits == stopBits_) return;
  stopBits_ = stopBits;
  ApplySettings();
}

void TComPort::SetParity(std::uint8_t parity) {
  if (parity == parity_) return;
  parity_ = parity;
  ApplySettings();
}

void TComPort::SetLineParams(std::int32_t baud, std::uint8_t stopBits, std::uint8_t parity) {
  if (baud == baudRate_ && stopBits == stopBits_ && parity == parity_) return;
  baudRate_ = baud;
  stopBits_ = stopBits;
  parity_ = parity;
  ApplySettings();
}

void TComPort::SetDsrFlow(bool on) {
  if (on == dsrFlow_) return;
  dsrFlow_ = on;
  if (handle_ != kClosedHandle && !driverFlag_) Reopen();
}

void TComPort::SetDtr(bool on) {
  if (on == dtr_) return;
  dtr_ = on;
  if (handle_ != kClosedHandle && !driverFlag_) {
    win32::EscapeCommFunction(handle_, on ? win32::SETDTR : win32::CLRDTR);
  }
}

void TComPort::SetRts(bool on) {
  if (on == rts_) return;
  rts_ = on;
  if (handle_ != kClosedHandle && !driverFlag_) {
    win32::EscapeCommFunction(handle_, on ? win32::SETRTS : win32::CLRRTS);
  }
}

void TComPort::SetBreakLine(bool on) {
  if (handle_ == kClosedHandle || driverFlag_) return;
  if (on) {
    win32::SetCommBreak(handle_);
  } else {
    win32::ClearCommBreak(handle_);
  }
  sendBuffer_[kSendBufferSize - 1] = on ? 1 : 0;
}

bool TComPort::GetDsrLine() {
  modemScratch_ = 0;
  if (handle_ == kClosedHandle || driverFlag_) return false;
  win32::DWORD status = 0;
  if (!win32::GetCommModemStatus(handle_, &status)) return false;
  return (status & win32::MS_DSR_ON) == 0;
}

int TComPort::CheckErrors() {
  lastErrors_ = 0;
  if (handle_ == kClosedHandle) return -1;
  if (driverFlag_) return channel().available();
  win32::DWORD errors = 0;
  win32::COMSTAT stat;
  if (!win32::ClearCommError(handle_, &errors, &stat)) return -1;
  if (errors != 0) {
    ++errorCount_;
    errorMask_ |= errors;
    lastErrors_ = errors;
  }
  return static_cast<int>(stat.cbInQue);
}

bool TComPort::PurgeOutput() {
  if (handle_ == kClosedHandle) return false;
  if (driverFlag_) return true;
  win32::PurgeComm(handle_, win32::PURGE_TXCLEAR);
  win32::PurgeComm(handle_, win32::PURGE_TXABORT);
  CheckErrors();
  return lastErrors_ == 0;
}

bool TComPort::PurgeInput() {
  if (handle_ == kClosedHandle) return false;
  if (driverFlag_) {
    channel().purge();
    return true;
  }
  win32::PurgeComm(handle_, win32::PURGE_RXCLEAR);
  win32::PurgeComm(handle_, win32::PURGE_RXABORT);
  CheckErrors();
  return lastErrors_ == 0;
}

bool TComPort::Purge() {
  const bool output = PurgeOutput();
  return PurgeInput() && output;
}

void TComPort::account(std::uint8_t byte) {
  xorSum_ ^= byte;
  rolling_ = rollChecksum(rolling_, byte);
}

void TComPort::idle() {
  if (idle_) idle_(true);
}

void TComPort::waitTurn(std::uint32_t leftMs) {
  const win32::DWORD ms = std::min<std::uint32_t>(leftMs, 1);
  if (handle_ != kClosedHandle && !driverFlag_) {
    win32::MsgWaitForMultipleObjects(1, &handle_, win32::FALSE, ms, 0);
  } else {
    win32::MsgWaitForMultipleObjects(0, nullptr, win32::FALSE, ms, 0);
  }
}

bool TComPort::ReadByte(std::uint8_t& byte, std::uint32_t timeoutMs) {
  if (timeoutMs > 0 && timeoutMs < kMinimumReadTimeout) timeoutMs = kMinimumReadTimeout;
  const win32::DWORD start = win32::GetTickCount();
  if (handle_ != kClosedHandle && !driverFlag_) {
    const win32::COMMTIMEOUTS atOnce{win32::MAXDWORD, 0, 0, 0, 0};
    win32::SetCommTimeouts(handle_, &atOnce);
  }
  for (;;) {
    bool got = false;
    if (handle_ == kClosedHandle) {
      // Nothing can come; the time-out still runs, as on a port that is gone.
    } else if (driverFlag_) {
      got = channel().available() > 0 && channel().read({&byte, 1}) == 1;
    } else {
      CheckErrors();
      win32::DWORD n = 0;
      got = win32::ReadFile(handle_, &byte, 1, &n, nullptr) && n == 1;
      CheckErrors();
      if (got && (lastErrors_ & (win32::CE_RXPARITY | win32::CE_FRAME))) {
        PurgeInput();
        CheckPort();
        return false;
      }
    }
    if (got) {
      account(byte);
      return true;
    }
    idle();
    const std::uint32_t elapsed = win32::GetTickCount() - start;
    if (elapsed >= timeoutMs) break;
    waitTurn(timeoutMs - elapsed);
  }
  errorMask_ |= kTimeoutMark;
  PurgeInput();
  CheckPort();
  return false;
}

std::vector<std::uint8_t> TComPort::ReadBytes(std::size_t count, std::uint32_t timeoutMs) {
  std::vector<std::uint8_t> bytes;
  std::uint8_t b = 0;
  while (bytes.size() < count && ReadByte(b, timeoutMs)) bytes.push_back(b);
  return bytes;
}

bool TComPort::WriteByte(std::uint8_t byte) {
  if (bufferIndex_ > 0) {
    sendBuffer_[bufferIndex_ - 1] = byte;
    ++bufferIndex_;
    account(byte);
    if (bufferIndex_ > kFlushAt) return FlushBuffer();
    return true;
  }
  int sent = -1;
  if (handle_ == kClosedHandle) {
    sent = -1;
  } else if (driverFlag_) {
    sent = channel().write(driverContext_, {&byte, 1}, baudCallback_, this);
  } else {
    win32::DWORD n = 0;
    sent = win32::WriteFile(handle_, &byte, 1, &n, nullptr) ? static_cast<int>(n) : -1;
  }
  if (sent != 1) {
    PurgeOutput();
    CheckPort();
    return false;
  }
  CheckErrors();
  account(byte);
  return true;
}

bool TComPort::FlushBuffer() {
  if (bufferIndex_ == 0) return true;
  const std::size_t count = bufferIndex_ - 1u;
  bufferIndex_ = 0;
  if (count == 0) return true;
  int sent = -1;
  if (handle_ == kClosedHandle) {
    sent = -1;
  } else if (driverFlag_) {
    sent = channel().write(driverContext_, {sendBuffer_.data(), count}, baudCallback_, this);
  } else {
    const win32::COMMTIMEOUTS none{};
    win32::SetCommTimeouts(handle_, &none);
    win32::DWORD n = 0;
    sent =
        win32::WriteFile(handle_, sendBuffer_.data(), static_cast<win32::DWORD>(count), &n, nullptr)
            ? static_cast<int>(n)
            : -1;
  }
  if (sent == static_cast<int>(count)) {
    CheckErrors();
    return true;
  }
  PurgeOutput();
  CheckPort();
  return false;
}

bool TComPort::SendFrame(std::span<const std::uint8_t> bytes) {
  BeginBuffer();
  rolling_ = 0;
  for (std::uint8_t b : bytes) {
    if (!WriteByte(b)) return false;
  }
  if (!WriteByte(rolling_)) return false;
  return FlushBuffer();
}

bool TComPort::SendRaw(std::span<const std::uint8_t> bytes) {
  BeginBuffer();
  for (std::uint8_t b : bytes) {
    if (!WriteByte(b)) return false;
  }
  return FlushBuffer();
}

void TComPort::ResetPulse() {
  if (handle_ == kClosedHandle) return;
  if (!driverFlag_) {
    SetBreakLine(true);
    WaitMs(kPulseMs);
    SetBreakLine(false);
    WaitMs(kPulseMs);
    return;
  }
  const std::int32_t baud = baudRate_;
  SetBaudrate(300);
  const std::uint8_t zero = 0x00;
  SendRaw({&zero, 1});
  WaitMs(kPulseMs);
  SetBaudrate(baud);
}

std::uint32_t TComPort::WaitMs(std::uint32_t ms) {
  const win32::DWORD start = win32::GetTickCount();
  for (;;) {
    idle();
    const std::uint32_t elapsed = win32::GetTickCount() - start;
    if (elapsed >= ms) return elapsed;
    // Only the clock: input that arrives meanwhile must not end the turn
    // early, or a wait with bytes pending would spin.
    win32::MsgWaitForMultipleObjects(0, nullptr, win32::FALSE,
                                     std::min<std::uint32_t>(ms - elapsed, 1), 0);
  }
}

void TComPort::CheckPort() {
  if (handle_ == kClosedHandle || driverFlag_) return;
  win32::DCB dcb;
  if (!win32::GetCommState(handle_, &dcb)) Reopen();
}

int TComPort::ProbePort(std::int16_t n, bool acceptDriver) {
  const int count = sharedCount(n);
  if (count == 0 && !(acceptDriver && channel().present() && channel().port() == n)) {
    const win32::HANDLE h = createHandle(n);
    if (h != kClosedHandle) win32::CloseHandle(h);
  }
  return count;
}

bool TComPort::DriverBusy() {
  if (!driverFlag_) return false;
  const int status = channel().status();
  return status >= 0 && (status & 0x02) != 0;
}

}  // namespace k52::chiphost

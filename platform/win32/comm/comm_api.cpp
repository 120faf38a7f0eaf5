// COM handles and device handles behind CreateFileA, and the Win32 serial
// calls on them.
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/win32/com_ports.h"
#include "platform/win32/comm/comm.h"
#include "platform/win32/comm/device.h"
#include "platform/win32/comm/device_wire.h"
#include "platform/win32/comm/tty_comm_line.h"
#include "platform/win32/messaging/desktop.h"
#include "platform/win32/messaging/kernel_object.h"
#include "platform/win32/messaging/unix_socket.h"
#include "platform/win32/messaging/user.h"
#include "platform/win32/registry.h"

namespace k52::win32 {

namespace {

using namespace std::chrono_literals;

std::mutex stateMutex;
std::map<unsigned, std::shared_ptr<CommLine>>& attachedPorts() {
  static auto* ports = new std::map<unsigned, std::shared_ptr<CommLine>>;
  return *ports;
}
std::set<unsigned>& openPorts() {
  static auto* ports = new std::set<unsigned>;
  return *ports;
}
std::map<std::string, std::shared_ptr<DeviceProvider>>& devices() {
  static auto* providers = new std::map<std::string, std::shared_ptr<DeviceProvider>>;
  return *providers;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

LineFrame frameOf(const DCB& dcb) {
  LineFrame frame;
  frame.baudRate = dcb.BaudRate;
  frame.dataBits = dcb.ByteSize;
  frame.parity = (dcb.Flags & DCB_fParity) ? dcb.Parity : NOPARITY;
  frame.stopBits = dcb.StopBits;
  return frame;
}

class CommHandle final : public FileObject {
 public:
  CommHandle(unsigned port, std::shared_ptr<CommLine> line) : port_(port), line_(std::move(line)) {
    dcb_.BaudRate = 9600;
    dcb_.ByteSize = 8;
    dcb_.Flags = DCB_fBinary;
  }
  ~CommHandle() override {
    std::lock_guard lock(stateMutex);
    openPorts().erase(port_);
  }

  CommLine& line() { return *line_; }
  DCB& dcb() { return dcb_; }
  COMMTIMEOUTS& timeouts() { return timeouts_; }
  ModemOutputs& outputs() { return outputs_; }

  BOOL read(LPVOID buffer, DWORD size, DWORD* read) override {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    DWORD done = 0;
    const bool atOnce = timeouts_.ReadIntervalTimeout == MAXDWORD &&
                        timeouts_.ReadTotalTimeoutMultiplier == 0 &&
                        timeouts_.ReadTotalTimeoutConstant == 0;
    const DWORD total =
        timeouts_.ReadTotalTimeoutConstant + timeouts_.ReadTotalTimeoutMultiplier * size;
    Clock& clock = desktop().clock();
    const Duration deadline = clock.now() + std::chrono::milliseconds(total);
    for (;;) {
      done += static_cast<DWORD>(line_->read({bytes + done, size - done}));
      if (done == size || atOnce || !line_->connected()) break;
      const Duration left = deadline - clock.now();
      if (total != 0 && left <= Duration::zero()) break;
      line_->waitForInput(total != 0 ? std::min<Duration>(left, 10ms) : Duration(10ms));
    }
    if (read) *read = done;
    return TRUE;
  }

  BOOL write(LPCVOID buffer, DWORD size, DWORD* written) override {
    if (!line_->connected()) {
      if (written) *written = 0;
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
    const auto n = line_->write({static_cast<const std::uint8_t*>(buffer), size});
    if (written) *written = static_cast<DWORD>(n);
    return TRUE;
  }

 private:
  unsigned port_;
  std::shared_ptr<CommLine> line_;
  DCB dcb_;
  COMMTIMEOUTS timeouts_;
  ModemOutputs outputs_;
};

class DeviceHandle final : public KernelObject {
 public:
  explicit DeviceHandle(std::shared_ptr<DeviceProvider> provider)
      : provider_(std::move(provider)) {}
  explicit DeviceHandle(Fd socket) : socket_(std::move(socket)) {}

  std::optional<std::vector<std::uint8_t>> ioControl(DWORD code, std::span<const std::uint8_t> in,
                                                     DWORD outSize) {
    if (provider_) return provider_->ioControl(code, in, outSize);
    if (!socket_) return std::nullopt;
    devicewire::Request request{code, outSize, {in.begin(), in.end()}};
    const auto bytes = devicewire::encodeRequest(request);
    std::uint8_t header[devicewire::kReplyHeader];
    if (!writeAll(socket_.get(), bytes.data(), bytes.size()) ||
        !readExactly(socket_.get(), header, sizeof header)) {
      socket_ = Fd();
      return std::nullopt;
    }
    std::size_t length = 0;
    try {
      length = devicewire::replyOutputLength(header, outSize);
    } catch (const std::invalid_argument&) {
      socket_ = Fd();
      return std::nullopt;
    }
    std::vector<std::uint8_t> output(length);
    if (length > 0 && !readExactly(socket_.get(), output.data(), length)) {
      socket_ = Fd();
      return std::nullopt;
    }
    if (header[0] != 1) return std::nullopt;
    return output;
  }

 private:
  std::shared_ptr<DeviceProvider> provider_;
  Fd socket_;
};

// "COMn" or "\\.\COMn" with n in 1..15; 0 otherwise.
unsigned comPortOf(std::string_view name) {
  if (name.starts_with("\\\\.\\")) name.remove_prefix(4);
  if (name.size() < 4 || name.size() > 5 || lower(name.substr(0, 3)) != "com") return 0;
  unsigned n = 0;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  return n >= 1 && n <= kComPortCount && name[3] != '0' ? n : 0;
}

HANDLE failWith(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

HANDLE openComPort(unsigned n) {
  std::shared_ptr<CommLine> line;
  {
    std::lock_guard lock(stateMutex);
    if (openPorts().contains(n)) return failWith(ERROR_ACCESS_DENIED);
    if (auto it = attachedPorts().find(n); it != attachedPorts().end()) line = it->second;
  }
  if (!line) {
    const auto ports = configuredPorts(Registry(desktop().prefix()));
    const auto it = ports.find(n - 1);
    if (it == ports.end()) return failWith(ERROR_FILE_NOT_FOUND);
    line = TtyCommLine::open(it->second);
    if (!line) return failWith(ERROR_FILE_NOT_FOUND);
  }
  std::lock_guard lock(stateMutex);
  if (!openPorts().insert(n).second) return failWith(ERROR_ACCESS_DENIED);
  return addHandle(std::make_unique<CommHandle>(n, std::move(line)));
}

HANDLE openDevice(std::string_view name) {
  std::shared_ptr<DeviceProvider> provider;
  {
    std::lock_guard lock(stateMutex);
    if (auto it = devices().find(lower(name)); it != devices().end()) provider = it->second;
  }
  if (provider) return addHandle(std::make_unique<DeviceHandle>(std::move(provider)));
  Fd socket = connectSocket(deviceSocketPath(desktop().prefix(), name), SOCK_STREAM);
  if (!socket) return failWith(ERROR_FILE_NOT_FOUND);
  setSocketTimeouts(socket.get(), 5000);
  return addHandle(std::make_unique<DeviceHandle>(std::move(socket)));
}

std::optional<HANDLE> openCommName(LPCSTR rawName, DWORD access, DWORD, DWORD) {
  const std::string_view name(rawName);
  if (const unsigned n = comPortOf(name)) {
    if ((access & (GENERIC_READ | GENERIC_WRITE)) == 0) return failWith(ERROR_ACCESS_DENIED);
    return openComPort(n);
  }
  if (!name.starts_with("\\\\.\\")) return std::nullopt;
  const std::string_view device = name.substr(4);
  if (device.empty() || lower(device).starts_with("mailslot\\")) return std::nullopt;
  return openDevice(device);
}

const bool registered = [] {
  addFileOpener(openCommName);
  return true;
}();

CommHandle* commOf(HANDLE handle) {
  return objectOf<CommHandle>(handle);
}

BOOL applyOutputs(CommHandle* comm) {
  comm->line().setOutputs(comm->outputs());
  return TRUE;
}

}  // namespace

void attachPort(unsigned n, std::shared_ptr<CommLine> line) {
  (void)registered;
  std::lock_guard lock(stateMutex);
  if (line) {
    attachedPorts()[n] = std::move(line);
  } else {
    attachedPorts().erase(n);
  }
}

void registerDevice(std::string_view name, std::shared_ptr<DeviceProvider> provider) {
  (void)registered;
  std::lock_guard lock(stateMutex);
  if (provider) {
    devices()[lower(name)] = std::move(provider);
  } else {
    devices().erase(lower(name));
  }
}

std::filesystem::path deviceSocketPath(const Prefix& prefix, std::string_view name) {
  return prefix.runDir() / "devices" / objectFileName(name);
}

BOOL SetupComm(HANDLE handle, DWORD, DWORD) {
  (void)registered;
  return commOf(handle) ? TRUE : FALSE;
}

BOOL GetCommState(HANDLE handle, DCB* dcb) {
  auto* comm = commOf(handle);
  if (!comm || !dcb) return FALSE;
  if (!comm->line().connected()) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  *dcb = comm->dcb();
  return TRUE;
}

BOOL SetCommState(HANDLE handle, const DCB* dcb) {
  auto* comm = commOf(handle);
  if (!comm || !dcb) return FALSE;
  if (!comm->line().configure(frameOf(*dcb))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  comm->dcb() = *dcb;
  comm->dcb().DCBlength = sizeof(DCB);
  auto& out = comm->outputs();
  const DWORD dtr = dcb->Flags & DCB_DTR_CONTROL_MASK;
  const DWORD rts = dcb->Flags & DCB_RTS_CONTROL_MASK;
  out.dtr = dtr == DTR_CONTROL_ENABLE || dtr == DTR_CONTROL_HANDSHAKE;
  out.rts = rts == RTS_CONTROL_ENABLE || rts == RTS_CONTROL_HANDSHAKE;
  return applyOutputs(comm);
}

BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
  auto* comm = commOf(handle);
  if (!comm || !timeouts) return FALSE;
  *timeouts = comm->timeouts();
  return TRUE;
}

BOOL SetCommTimeouts(HANDLE handle, const COMMTIMEOUTS* timeouts) {
  auto* comm = commOf(handle);
  if (!comm || !timeouts) return FALSE;
  comm->timeouts() = *timeouts;
  return TRUE;
}

BOOL EscapeCommFunction(HANDLE handle, DWORD function) {
  auto* comm = commOf(handle);
  if (!comm) return FALSE;
  auto& out = comm->outputs();
  switch (function) {
    case SETRTS:
    case CLRRTS:
      out.rts = function == SETRTS;
      break;
    case SETDTR:
    case CLRDTR:
      out.dtr = function == SETDTR;
      break;
    case SETBREAK:
    case CLRBREAK:
      out.breakOn = function == SETBREAK;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  return applyOutputs(comm);
}

BOOL SetCommBreak(HANDLE handle) {
  return EscapeCommFunction(handle, SETBREAK);
}

BOOL ClearCommBreak(HANDLE handle) {
  return EscapeCommFunction(handle, CLRBREAK);
}

BOOL GetCommModemStatus(HANDLE handle, DWORD* status) {
  auto* comm = commOf(handle);
  if (!comm || !status) return FALSE;
  *status = comm->line().modemStatus();
  return TRUE;
}

BOOL ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* stat) {
  auto* comm = commOf(handle);
  if (!comm) return FALSE;
  const std::uint32_t seen = comm->line().takeErrors();
  if (errors) *errors = seen;
  if (stat) {
    stat->Flags = 0;
    stat->cbInQue = static_cast<DWORD>(comm->line().inputCount());
    stat->cbOutQue = static_cast<DWORD>(comm->line().outputCount());
  }
  return TRUE;
}

BOOL PurgeComm(HANDLE handle, DWORD flags) {
  auto* comm = commOf(handle);
  if (!comm) return FALSE;
  if (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) comm->line().purgeInput();
  if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) comm->line().purgeOutput();
  return TRUE;
}

BOOL DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     DWORD* returned, void*) {
  auto* device = objectOf<DeviceHandle>(handle);
  if (returned) *returned = 0;
  if (!device) return FALSE;
  if ((inSize > 0 && !in) || (outSize > 0 && !out) || inSize > devicewire::kMaxDeviceBuffer ||
      outSize > devicewire::kMaxDeviceBuffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto output = device->ioControl(code, {static_cast<const std::uint8_t*>(in), inSize}, outSize);
  if (!output) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  const DWORD n = static_cast<DWORD>(std::min<std::size_t>(output->size(), outSize));
  std::copy_n(output->begin(), n, static_cast<std::uint8_t*>(out));
  if (returned) *returned = n;
  return TRUE;
}

DWORD GetTickCount() {
  return desktop().clock().tickCountMs();
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL, DWORD timeoutMs,
                                DWORD wakeMask) {
  std::vector<CommHandle*> comms;
  for (DWORD i = 0; i < count; ++i) {
    auto* comm = commOf(handles[i]);
    if (!comm) return WAIT_FAILED;
    comms.push_back(comm);
  }
  Desktop& d = desktop();
  Clock& clock = d.clock();
  const auto queue = d.queueOf(GetCurrentThreadId());
  const bool forever = timeoutMs == INFINITE;
  const Duration deadline = clock.now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
  for (;;) {
    for (DWORD i = 0; i < count; ++i) {
      if (comms[i]->line().inputCount() > 0) return WAIT_OBJECT_0 + i;
    }
    if (wakeMask != 0 && queue->hasInput()) return WAIT_OBJECT_0 + count;
    const Duration left = forever ? Duration(1ms) : deadline - clock.now();
    if (left <= Duration::zero()) return WAIT_TIMEOUT;
    const Duration step = std::min<Duration>(left, 1ms);
    if (count > 0) {
      comms[0]->line().waitForInput(step);
    } else {
      clock.sleepFor(step);
    }
  }
}

}  // namespace k52::win32

// The channel driver on a simulated PC, seen from its clients: the reader
// driver's internal requests and a tool's control requests, plus the
// keyboard, the terminal and the keystroke reader behind it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "drivers/kbdchannel/driver.h"
#include "drivers/kbdchannel/vrlpcsc.h"
#include "platform/nt/ntddk.h"
#include "platform/nt/test_kernel.h"
#include "platform/win32/registry.h"
#include "platform/win32/test_temp_dir.h"
#include "sim/kbdstack/keyboard_pc.h"

namespace k52::kbdchannel {

struct RigOptions {
  std::optional<std::uint32_t> ledTimeoutMs = std::nullopt;  // "LEDTimeoutmsecs"
  std::optional<std::uint32_t> keyboardCwt = std::nullopt;   // "KeyboardCWT"
  std::optional<std::uint16_t> refusedPort = std::nullopt;   // a port the bus will not translate
  sim::KeyboardPcConfig pc = {};
  nt::Clocking clocking = nt::Clocking::Virtual;
  std::optional<std::uint32_t> timeIncrement = std::nullopt;  // the machine's clock tick
};

class ChannelRig {
 public:
  explicit ChannelRig(sim::TerminalFirmware& firmware, RigOptions options = {})
      : prefix_(writeParameters(dir_, options)),
        pc_(nt::makeScheduler(options.clocking), firmware, prefix_, options.pc) {
    if (options.refusedPort) pc_.kernel().bus().failTranslation(*options.refusedPort);
    loadStatus_ = pc_.kernel().loadDriver(kDriverName, DriverEntry);
  }

  ~ChannelRig() {
    closeClient();
    if (nt::NT_SUCCESS(loadStatus_)) unload();
  }

  void unload() {
    closeClient();
    pc_.kernel().unloadDriver(kDriverName);
    loadStatus_ = nt::STATUS_UNSUCCESSFUL;
  }

  nt::NTSTATUS loadStatus() const { return loadStatus_; }
  sim::KeyboardPc& pc() { return pc_; }
  sim::KeyboardWiring& wiring() { return pc_.wiring(); }
  nt::Scheduler& scheduler() { return pc_.scheduler(); }
  void run(Duration d) { pc_.scheduler().runFor(d); }

  // --- the reader driver's side ---

  struct Reply {
    nt::NTSTATUS status;
    std::vector<std::uint8_t> out;  // the bytes the driver returned
  };

  Reply internal(nt::ULONG code, std::vector<std::uint8_t> in, std::size_t outSize) {
    using namespace nt;
    openClient();
    std::vector<std::uint8_t> out(outSize);
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    PIRP irp = IoBuildDeviceIoControlRequest(
        code, clientDevice_, in.empty() ? nullptr : in.data(), static_cast<ULONG>(in.size()),
        out.empty() ? nullptr : out.data(), static_cast<ULONG>(out.size()), TRUE, &done, &iosb);
    IoGetNextIrpStackLocation(irp)->FileObject = clientFile_;
    if (IoCallDriver(clientDevice_, irp) == STATUS_PENDING) {
      KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    }
    out.resize(std::min<std::size_t>(iosb.Information, out.size()));
    return {iosb.Status, out};
  }

  template <typename T>
  static std::vector<std::uint8_t> bytesOf(const T& value) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    return {p, p + sizeof value};
  }

  nt::NTSTATUS attach() {
    AttachRecord record{&ChannelRig::onUnload, this, &ChannelRig::onData, 0};
    return internal(IOCTL_VRLPCSC_ATTACH, bytesOf(record), 0).status;
  }

  nt::NTSTATUS detach() { return internal(IOCTL_VRLPCSC_DETACH, {}, 0).status; }

  // The send result word, or nullopt when the request failed.
  std::optional<std::uint16_t> send(nt::ULONG code, const std::vector<std::uint8_t>& data) {
    SendRequest request{static_cast<std::uint16_t>(data.size()), 0, data.data()};
    Reply reply = internal(code, bytesOf(request), 2);
    if (reply.status != nt::STATUS_SUCCESS || reply.out.size() != 2) return std::nullopt;
    return static_cast<std::uint16_t>(reply.out[0] | reply.out[1] << 8);
  }
  std::optional<std::uint16_t> sendTerminal(const std::vector<std::uint8_t>& data) {
    return send(IOCTL_VRLPCSC_SEND_TERMINAL, data);
  }
  std::optional<std::uint16_t> sendKeyboard(const std::vector<std::uint8_t>& data) {
    return send(IOCTL_VRLPCSC_SEND_KEYBOARD, data);
  }

  // Reads the FIFO empty through the internal request.
  std::vector<FifoEntry> drainFifo() {
    std::vector<FifoEntry> entries;
    for (;;) {
      Reply reply = internal(IOCTL_VRLPCSC_READ_FIFO, {}, sizeof(FifoEntry));
      if (reply.status != nt::STATUS_SUCCESS) return entries;
      FifoEntry entry;
      std::memcpy(&entry, reply.out.data(), sizeof entry);
      entries.push_back(entry);
    }
  }
  std::vector<std::uint8_t> drainFifoValues() {
    std::vector<std::uint8_t> values;
    for (const FifoEntry& entry : drainFifo())
      values.push_back(static_cast<std::uint8_t>(entry.value));
    return values;
  }

  void closeClient() {
    if (clientFile_) nt::ObDereferenceObject(clientFile_);
    clientFile_ = nullptr;
  }

  const std::vector<std::uint16_t>& dataCallbacks() const { return dataCallbacks_; }
  int unloadCallbacks() const { return unloadCallbacks_; }

  // --- a tool's side ---

  std::unique_ptr<nt::DeviceHandle> openTool(bool privileged, nt::NTSTATUS* status = nullptr) {
    closeClient();
    return pc_.kernel().openDevice(L"\\\\.\\vrlPCSC", status, privileged);
  }

 private:
  static win32::Prefix writeParameters(const win32::TempDir& dir, const RigOptions& options) {
    win32::Prefix prefix(dir.path());
    win32::Registry registry(prefix);
    const char* key = "System\\CurrentControlSet\\Services\\vrlPCSC\\Parameters";
    if (options.ledTimeoutMs) {
      registry.set(win32::RootKey::LocalMachine, key, "LEDTimeoutmsecs", *options.ledTimeoutMs);
    }
    if (options.keyboardCwt) {
      registry.set(win32::RootKey::LocalMachine, key, "KeyboardCWT", *options.keyboardCwt);
    }
    if (options.timeIncrement) {
      registry.set(win32::RootKey::LocalMachine, nt::kMachineSettingsKey, nt::kTimeIncrementValue,
                   *options.timeIncrement);
    }
    return prefix;
  }

  void openClient() {
    if (clientFile_) return;
    nt::UNICODE_STRING name;
    nt::RtlInitUnicodeString(&name, L"\\Device\\vrlPCSC");
    if (!nt::NT_SUCCESS(nt::IoGetDeviceObjectPointer(&name, nt::FILE_ALL_ACCESS, &clientFile_,
                                                     &clientDevice_))) {
      throw std::runtime_error("cannot open the channel");
    }
  }

  static void onUnload(void* self) { ++static_cast<ChannelRig*>(self)->unloadCallbacks_; }
  static void onData(void* self, std::uint16_t count) {
    static_cast<ChannelRig*>(self)->dataCallbacks_.push_back(count);
  }

  win32::TempDir dir_;
  win32::Prefix prefix_;
  sim::KeyboardPc pc_;
  nt::NTSTATUS loadStatus_ = nt::STATUS_UNSUCCESSFUL;
  nt::PFILE_OBJECT clientFile_ = nullptr;
  nt::PDEVICE_OBJECT clientDevice_ = nullptr;
  std::vector<std::uint16_t> dataCallbacks_;
  int unloadCallbacks_ = 0;
};

}  // namespace k52::kbdchannel

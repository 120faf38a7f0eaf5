// The reader driver on a simulated PC with the K52 keyboard: the channel
// driver and varnel loaded as at system start, and the smart card
// subsystem's side of the reader device.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "drivers/kbdchannel/driver.h"
#include "drivers/reader/varnel.h"
#include "platform/nt/serial/serial_driver.h"
#include "platform/nt/serial/simulated_line.h"
#include "platform/nt/test_kernel.h"
#include "platform/nt/test_spin_watch.h"
#include "platform/smclib/smclib.h"
#include "platform/win32/registry.h"
#include "platform/win32/test_temp_dir.h"
#include "sim/card/pin_application.h"
#include "sim/card/purse.h"
#include "sim/k52fw/k52_firmware.h"
#include "sim/k52fw/line_terminal.h"
#include "sim/kbdstack/keyboard_pc.h"

namespace k52::varnel {

// The purse card's commands the tests send, and the record of a purse
// holding 12.34 (maximum amount and transaction 200.00).
inline const std::vector<std::uint8_t> kSelectPurse = {0x00, 0xA4, 0x04, 0x0C, 0x09, 0xD2, 0x76,
                                                       0x00, 0x00, 0x25, 0x45, 0x50, 0x01, 0x00};
inline const std::vector<std::uint8_t> kReadBalance = {0x00, 0xB2, 0x01, 0xC4, 0x09};
inline const std::vector<std::uint8_t> kBalanceRecord = {0x00, 0x12, 0x34, 0x02, 0x00, 0x00,
                                                         0x02, 0x00, 0x00, 0x90, 0x00};

enum class SerialEnd {
  kNone,      // no serial port
  kTerminal,  // COM1 with the K52 firmware as the serial terminal
  kSilent,    // COM1 with nothing on the line
};

struct ReaderRigOptions {
  std::optional<std::string> port = std::nullopt;  // "Port" of Reader0
  SerialEnd serial = SerialEnd::kNone;
  nt::Clocking clocking = nt::Clocking::Virtual;
  std::uint64_t seed = 1;                                     // of the virtual scheduler
  std::optional<std::uint32_t> timeIncrement = std::nullopt;  // the machine's clock tick
};

class ReaderRig {
 public:
  // Against the K52 terminal's firmware, with its keypad on the keyboard.
  explicit ReaderRig(ReaderRigOptions options = {})
      : prefix_(writeSettings(dir_, options)),
        pc_(
            watched(nt::makeScheduler(options.clocking, options.seed)),
            [this](sim::Timeline& timeline) {
              auto firmware = std::make_unique<sim::K52Firmware>(timeline);
              k52_ = firmware.get();
              return firmware;
            },
            prefix_) {
    k52_->attachKeypad(pc_.keyboard());
    loadChannel();
    loadSerial(options.serial);
  }
  // Against any terminal, for instance a scripted one.
  explicit ReaderRig(sim::TerminalFirmware& firmware, ReaderRigOptions options = {})
      : prefix_(writeSettings(dir_, options)),
        pc_(watched(nt::makeScheduler(options.clocking, options.seed)), firmware, prefix_) {
    loadChannel();
  }
  ~ReaderRig() {
    handle_.reset();
    if (nt::NT_SUCCESS(readerStatus_)) pc_.kernel().unloadDriver(kDriverName);
    if (line_) {
      pc_.kernel().unloadDriver(L"Serial");
      nt::serial::detachLines();
    }
    if (nt::NT_SUCCESS(channelStatus_)) pc_.kernel().unloadDriver(kbdchannel::kDriverName);
  }

  // Loads varnel; its DriverEntry runs in the calling thread.
  nt::NTSTATUS start() {
    readerStatus_ = pc_.kernel().loadDriver(kDriverName, DriverEntry);
    return readerStatus_;
  }
  void unload() {
    handle_.reset();
    pc_.kernel().unloadDriver(kDriverName);
    readerStatus_ = nt::STATUS_UNSUCCESSFUL;
  }

  sim::KeyboardPc& pc() { return pc_; }
  // The device is exclusive: closes the rig's own handle for someone else.
  void closeHandle() { handle_.reset(); }
  sim::K52Firmware& terminal() { return *k52_; }
  sim::K52Firmware& serialTerminal() { return *serialFirmware_; }
  nt::serial::SimulatedLine& serialLine() { return *line_; }

  // Puts a purse card into the terminal's slot.
  void insertPurse(sim::AtrProtocols protocols = sim::AtrProtocols::kT0AndT1,
                   sim::T0Options t0 = {}) {
    k52_->insertCard(
        std::make_shared<sim::Card>(sim::makePurseCard(sim::PurseConfig{1234}, protocols)), t0);
  }
  nt::Scheduler& scheduler() { return pc_.scheduler(); }
  void run(Duration d) { pc_.scheduler().runFor(d); }
  // The longest a thread of the simulation spent reading the clock without
  // blocking in between.
  Duration longestSpin() const { return spinWatch_->longestSpin(); }

  struct Reply {
    nt::NTSTATUS status;
    std::vector<std::uint8_t> out;
  };

  // A device-control request to the reader, as the resource manager sends it.
  Reply control(nt::ULONG code, const std::vector<std::uint8_t>& in, std::size_t outSize) {
    if (!handle_) handle_ = pc_.kernel().openDevice(kDeviceName);
    if (!handle_) return {nt::STATUS_OBJECT_NAME_NOT_FOUND, {}};
    std::vector<std::uint8_t> out(outSize);
    const auto result = handle_->deviceIoControl(code, in, out);
    out.resize(result.bytesReturned);
    return {result.status, out};
  }

  static std::vector<std::uint8_t> ulong(nt::ULONG value) {
    std::vector<std::uint8_t> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
  }
  static nt::ULONG ulongOf(const std::vector<std::uint8_t>& bytes) {
    nt::ULONG value = 0;
    if (!bytes.empty()) std::memcpy(&value, bytes.data(), std::min<std::size_t>(4, bytes.size()));
    return value;
  }

  Reply attribute(nt::ULONG tag, std::size_t outSize = 64) {
    return control(nt::IOCTL_SMARTCARD_GET_ATTRIBUTE, ulong(tag), outSize);
  }
  nt::ULONG state() { return ulongOf(control(nt::IOCTL_SMARTCARD_GET_STATE, {}, 4).out); }
  Reply power(nt::ULONG minor) { return control(nt::IOCTL_SMARTCARD_POWER, ulong(minor), 64); }
  Reply setProtocol(nt::ULONG mask) {
    return control(nt::IOCTL_SMARTCARD_SET_PROTOCOL, ulong(mask), 4);
  }
  // A transmit request's input: the protocol header, then the APDU.
  static std::vector<std::uint8_t> transmitInput(nt::ULONG protocol,
                                                 const std::vector<std::uint8_t>& apdu) {
    std::vector<std::uint8_t> in = ulong(protocol);
    const auto header = ulong(8);
    in.insert(in.end(), header.begin(), header.end());
    in.insert(in.end(), apdu.begin(), apdu.end());
    return in;
  }
  Reply transmit(nt::ULONG protocol, const std::vector<std::uint8_t>& apdu) {
    Reply reply = control(nt::IOCTL_SMARTCARD_TRANSMIT, transmitInput(protocol, apdu), 8 + 258);
    if (reply.out.size() >= 8) reply.out.erase(reply.out.begin(), reply.out.begin() + 8);
    return reply;
  }

  // A device-control request sent from a thread of its own, as an
  // application sends it while the test goes on: its status stays
  // STATUS_PENDING until it is done, at `end`. Takes the device from the
  // rig's own handle.
  struct Background {
    nt::NTSTATUS status = nt::STATUS_PENDING;
    Duration end{};
  };
  std::shared_ptr<Background> controlInBackground(nt::ULONG code, std::vector<std::uint8_t> in,
                                                  std::size_t outSize) {
    closeHandle();
    auto background = std::make_shared<Background>();
    scheduler().startThread("application", [this, background, code, in, outSize] {
      auto handle = pc_.kernel().openDevice(kDeviceName);
      ASSERT_NE(handle, nullptr);
      std::vector<std::uint8_t> out(outSize);
      background->status = handle->deviceIoControl(code, in, out).status;
      background->end = scheduler().now();
    });
    return background;
  }
  std::shared_ptr<Background> transmitInBackground(nt::ULONG protocol,
                                                   const std::vector<std::uint8_t>& apdu) {
    return controlInBackground(nt::IOCTL_SMARTCARD_TRANSMIT, transmitInput(protocol, apdu),
                               8 + 258);
  }

 private:
  std::unique_ptr<nt::Scheduler> watched(std::unique_ptr<nt::Scheduler> scheduler) {
    auto watch = std::make_unique<nt::SpinWatch>(std::move(scheduler));
    spinWatch_ = watch.get();
    return watch;
  }

  static win32::Prefix writeSettings(const win32::TempDir& dir, const ReaderRigOptions& options) {
    win32::Prefix prefix(dir.path());
    win32::Registry registry(prefix);
    if (options.port) {
      registry.set(win32::RootKey::LocalMachine,
                   "System\\CurrentControlSet\\Services\\varnel\\Reader0", "Port", *options.port);
    }
    registry.set(win32::RootKey::LocalMachine,
                 "System\\CurrentControlSet\\Services\\vrlPCSC\\Parameters", "KeyboardCWT",
                 std::uint32_t{2});
    if (options.timeIncrement) {
      registry.set(win32::RootKey::LocalMachine, nt::kMachineSettingsKey, nt::kTimeIncrementValue,
                   *options.timeIncrement);
    }
    return prefix;
  }

  void loadSerial(SerialEnd end) {
    if (end == SerialEnd::kNone) return;
    line_ = std::make_shared<nt::serial::SimulatedLine>(pc_.scheduler());
    if (end == SerialEnd::kTerminal) {
      serialTimeline_ = std::make_unique<sim::SchedulerTimeline>(pc_.scheduler());
      serialFirmware_ =
          std::make_unique<sim::K52Firmware>(*serialTimeline_, sim::serialTerminalIdentity());
      lineTerminal_ = std::make_unique<sim::LineTerminal>(*serialFirmware_, *line_);
    }
    nt::serial::attachLine(0, line_);
    pc_.kernel().loadDriver(L"Serial", nt::serial::SerialDriverEntry);
  }

  void loadChannel() {
    channelStatus_ = pc_.kernel().loadDriver(kbdchannel::kDriverName, kbdchannel::DriverEntry);
  }

  win32::TempDir dir_;
  win32::Prefix prefix_;
  sim::K52Firmware* k52_ = nullptr;     // set while pc_ is made
  nt::SpinWatch* spinWatch_ = nullptr;  // likewise
  sim::KeyboardPc pc_;
  nt::NTSTATUS channelStatus_ = nt::STATUS_UNSUCCESSFUL;
  nt::NTSTATUS readerStatus_ = nt::STATUS_UNSUCCESSFUL;
  std::unique_ptr<nt::DeviceHandle> handle_;
  std::shared_ptr<nt::serial::SimulatedLine> line_;
  std::unique_ptr<sim::SchedulerTimeline> serialTimeline_;
  std::unique_ptr<sim::K52Firmware> serialFirmware_;
  std::unique_ptr<sim::LineTerminal> lineTerminal_;
};

// A T=0 card with the PIN application (PIN 1234) in the keyboard terminal,
// the reader started and the PIN application selected. Call it within
// ASSERT_NO_FATAL_FAILURE.
inline void startWithSelectedPinCard(ReaderRig& rig) {
  const std::vector<std::uint8_t> reference = {0x24, 0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  rig.terminal().insertCard(
      std::make_shared<sim::Card>(sim::makePinCard(reference, sim::AtrProtocols::kT0)));
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  ASSERT_EQ(rig.setProtocol(nt::SCARD_PROTOCOL_T0).status, nt::STATUS_SUCCESS);
  const std::vector<std::uint8_t> selectPin = {0x00, 0xA4, 0x04, 0x0C, 0x08, 0xD2, 0x76,
                                               0x00, 0x00, 0x98, 0x50, 0x49, 0x4E};
  ASSERT_EQ(rig.transmit(nt::SCARD_PROTOCOL_T0, selectPin).out,
            (std::vector<std::uint8_t>{0x90, 0x00}));
}

}  // namespace k52::varnel

// A PC with the K52 keyboard, as the kernel model sees it: the kernel on a
// virtual (or real) scheduler, the keyboard controller, interrupt controller
// and keyboard with its card terminal on the I/O bus, the keyboard class
// driver loaded and the keystroke reader running. Drivers under test are
// loaded into kernel() by the caller, and unloaded by it before this ends.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/nt/kbdclass/keystroke_reader.h"
#include "platform/nt/kernel.h"
#include "platform/win32/prefix.h"
#include "sim/kbd8042/keyboard_wiring.h"
#include "sim/kbdstack/scheduler_timeline.h"

namespace k52::sim {

struct KeyboardPcConfig {
  KeyboardWiringConfig wiring;
  nt::KeystrokeReaderConfig reader;
};

class KeyboardPc {
 public:
  // Makes the terminal's firmware on the PC's timeline; the PC keeps it.
  using FirmwareFactory = std::function<std::unique_ptr<TerminalFirmware>(Timeline&)>;

  KeyboardPc(std::unique_ptr<nt::Scheduler> scheduler, TerminalFirmware& firmware,
             std::optional<win32::Prefix> prefix = std::nullopt, KeyboardPcConfig config = {});
  KeyboardPc(std::unique_ptr<nt::Scheduler> scheduler, const FirmwareFactory& makeFirmware,
             std::optional<win32::Prefix> prefix = std::nullopt, KeyboardPcConfig config = {});
  // Stops the keystroke reader and unloads the class driver.
  ~KeyboardPc();
  KeyboardPc(const KeyboardPc&) = delete;
  KeyboardPc& operator=(const KeyboardPc&) = delete;

  nt::Kernel& kernel() { return kernel_; }
  nt::Scheduler& scheduler() { return kernel_.scheduler(); }
  KeyboardWiring& wiring() { return wiring_; }
  Keyboard& keyboard() { return wiring_.keyboard(); }
  nt::KeystrokeReader& reader() { return reader_; }

 private:
  class Ports final : public nt::PortDevice {
   public:
    explicit Ports(KeyboardWiring& wiring) : wiring_(wiring) {}
    std::uint8_t readPort(std::uint16_t port) override { return wiring_.readPort(port); }
    void writePort(std::uint16_t port, std::uint8_t value) override {
      wiring_.writePort(port, value);
    }

   private:
    KeyboardWiring& wiring_;
  };

  KeyboardPc(std::unique_ptr<nt::Scheduler> scheduler, const FirmwareFactory& makeFirmware,
             TerminalFirmware* firmware, std::optional<win32::Prefix> prefix,
             KeyboardPcConfig config);

  nt::Kernel kernel_;
  SchedulerTimeline timeline_;
  std::unique_ptr<TerminalFirmware> ownedFirmware_;
  KeyboardWiring wiring_;
  Ports ports_;
  nt::KeystrokeReader reader_;
};

}  // namespace k52::sim

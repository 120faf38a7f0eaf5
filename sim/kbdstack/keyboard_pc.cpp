#include "sim/kbdstack/keyboard_pc.h"

#include "platform/nt/kbdclass/keyboard_class.h"

namespace k52::sim {

KeyboardPc::KeyboardPc(std::unique_ptr<nt::Scheduler> scheduler, TerminalFirmware& firmware,
                       std::optional<win32::Prefix> prefix, KeyboardPcConfig config)
    : KeyboardPc(std::move(scheduler), nullptr, &firmware, std::move(prefix), config) {}

KeyboardPc::KeyboardPc(std::unique_ptr<nt::Scheduler> scheduler,
                       const FirmwareFactory& makeFirmware, std::optional<win32::Prefix> prefix,
                       KeyboardPcConfig config)
    : KeyboardPc(std::move(scheduler), makeFirmware, nullptr, std::move(prefix), config) {}

KeyboardPc::KeyboardPc(std::unique_ptr<nt::Scheduler> scheduler,
                       const FirmwareFactory& makeFirmware, TerminalFirmware* firmware,
                       std::optional<win32::Prefix> prefix, KeyboardPcConfig config)
    : kernel_(std::move(scheduler), std::move(prefix)),
      timeline_(kernel_.scheduler()),
      ownedFirmware_(makeFirmware ? makeFirmware(timeline_) : nullptr),
      wiring_(timeline_, firmware ? *firmware : *ownedFirmware_, config.wiring),
      ports_(wiring_),
      reader_(config.reader) {
  kernel_.bus().map(Pic::kMaskPort, 1, ports_);
  kernel_.bus().map(Controller8042::kDataPort, 5, ports_);
  wiring_.onIrq1([this] { kernel_.scheduler().interrupt(nt::kbdclass::KeyboardInterrupt); });
  if (kernel_.loadDriver(L"kbdclass", nt::kbdclass::KeyboardClassEntry) != nt::STATUS_SUCCESS) {
    throw std::runtime_error("the keyboard class driver did not start");
  }
  reader_.start();
}

KeyboardPc::~KeyboardPc() {
  reader_.stop();
  kernel_.unloadDriver(L"kbdclass");
}

}  // namespace k52::sim

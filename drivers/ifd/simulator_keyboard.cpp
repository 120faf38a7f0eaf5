#include <cstdio>
#include <exception>
#include <filesystem>

#include "drivers/ifd/keyboard_link.h"
#include "platform/nt/port_link/port_link.h"

namespace k52::ifd {
namespace {

// The keyboard in the simulator process. Once the simulator has gone, the
// controller reads as one with nothing on its cable (instead of a floating
// bus, on which every send would wait out the controller's long time-outs),
// so that the reader's exchanges fail at once.
class SimulatorKeyboard final : public KeyboardLink {
 public:
  explicit SimulatorKeyboard(std::unique_ptr<nt::PortLink> link) : link_(std::move(link)) {}
  std::uint8_t readPort(std::uint16_t port) override {
    const std::uint8_t value = link_->readPort(port);
    return link_->connected() ? value : 0;
  }
  void writePort(std::uint16_t port, std::uint8_t value) override { link_->writePort(port, value); }
  void onIrq1(std::function<void()> isr) override { link_->onIrq1(std::move(isr)); }

 private:
  std::unique_ptr<nt::PortLink> link_;
};

}  // namespace

KeyboardSource simulatorKeyboard() {
  return [](const win32::Prefix& prefix, nt::Scheduler&) -> std::unique_ptr<KeyboardLink> {
    const auto socket = nt::keyboardSocketPath(prefix);
    std::error_code error;
    // No simulator serves the prefix: no keyboard, as on a PC without one.
    if (!std::filesystem::exists(socket, error)) return nullptr;
    try {
      return std::make_unique<SimulatorKeyboard>(nt::PortLink::connect(socket));
    } catch (const std::exception& e) {
      // A serial terminal may still serve the reader.
      std::fprintf(stderr, "libifd-varnel: no keyboard: %s\n", e.what());
      return nullptr;
    }
  };
}

}  // namespace k52::ifd

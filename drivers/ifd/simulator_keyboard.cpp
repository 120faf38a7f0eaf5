#include <exception>
#include <filesystem>

#include "drivers/ifd/keyboard_link.h"
#include "platform/nt/port_link/port_link.h"

namespace k52::ifd {

KeyboardSource simulatorKeyboard() {
  return [](const win32::Prefix& prefix, nt::Scheduler&) -> std::unique_ptr<KeyboardLink> {
    const auto socket = nt::keyboardSocketPath(prefix);
    std::error_code error;
    // No simulator serves the prefix: no keyboard, as on a PC without one.
    if (!std::filesystem::exists(socket, error)) return nullptr;
    return std::make_unique<KeyboardLinkTo<std::unique_ptr<nt::PortLink>>>(
        nt::PortLink::connect(socket));
  };
}

}  // namespace k52::ifd

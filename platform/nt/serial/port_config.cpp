#include "platform/nt/serial/port_config.h"

#include "platform/nt/serial/serial_driver.h"

namespace k52::nt::serial {

std::map<unsigned, std::string> configuredPorts(const win32::Registry& registry) {
  std::map<unsigned, std::string> ports;
  for (unsigned index = 0; index < kPortCount; ++index) {
    const auto value =
        registry.get(win32::RootKey::LocalMachine, kPortsKey, "COM" + std::to_string(index + 1));
    const auto* path = value ? std::get_if<std::string>(&*value) : nullptr;
    if (path && !path->empty() && path->front() == '/') ports.emplace(index, *path);
  }
  return ports;
}

}  // namespace k52::nt::serial

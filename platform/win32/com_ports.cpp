#include "platform/win32/com_ports.h"

namespace k52::win32 {

std::map<unsigned, std::string> configuredPorts(const Registry& registry) {
  std::map<unsigned, std::string> ports;
  for (unsigned index = 0; index < kComPortCount; ++index) {
    const auto value =
        registry.get(RootKey::LocalMachine, kPortsKey, "COM" + std::to_string(index + 1));
    const auto* path = value ? std::get_if<std::string>(&*value) : nullptr;
    if (path && !path->empty() && path->front() == '/') ports.emplace(index, *path);
  }
  return ports;
}

}  // namespace k52::win32

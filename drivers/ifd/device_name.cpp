#include "drivers/ifd/device_name.h"

#include <filesystem>

namespace k52::ifd {

win32::Prefix prefixOfDeviceName(std::string_view deviceName) {
  const std::filesystem::path path(deviceName);
  if (path.is_absolute()) return win32::Prefix(path.lexically_normal());
  return win32::Prefix::fromEnvironment();
}

}  // namespace k52::ifd

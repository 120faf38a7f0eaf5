// Devices "\\.\NAME" for CreateFileA and DeviceIoControl: a provider in this
// process, or one in another process of the prefix behind the device socket
// <prefix>/run/devices/NAME (device_socket.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/messaging/types.h"
#include "platform/win32/prefix.h"

namespace k52::win32 {

class DeviceProvider {
 public:
  virtual ~DeviceProvider() = default;
  // One IO control: the output (at most `outSize` bytes), or nullopt when
  // the call fails.
  virtual std::optional<std::vector<std::uint8_t>> ioControl(DWORD code,
                                                             std::span<const std::uint8_t> input,
                                                             DWORD outSize) = 0;
};

// Serves "\\.\NAME" (case-insensitive) in this process; a null provider
// removes the name.
void registerDevice(std::string_view name, std::shared_ptr<DeviceProvider> provider);

// Where another process serves device NAME.
std::filesystem::path deviceSocketPath(const Prefix& prefix, std::string_view name);

}  // namespace k52::win32

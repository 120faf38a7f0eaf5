// DEVICENAME of the handler's reader.conf entry: the directory of the
// prefix whose registry configures the reader ("Port" of varnel's Reader0,
// the COM port map) and whose simulator serves the keyboard. An absolute
// path names the prefix; anything else (by convention "default") selects
// the default prefix of the user pcscd runs as: $K52_PREFIX, else
// ~/.local/share/k52kit.
#pragma once

#include <string_view>

#include "platform/win32/prefix.h"

namespace k52::ifd {

inline constexpr std::string_view kDefaultDeviceName = "default";

win32::Prefix prefixOfDeviceName(std::string_view deviceName);

}  // namespace k52::ifd

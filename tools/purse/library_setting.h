// Which CT-API library the installation chose: HKEY_LOCAL_MACHINE
// "Software\Morvex\Settings", value "CTAPI DLL" (a string of up to 255
// characters), "ctqts32.dll" when it is missing or empty.
#pragma once

#include <string>

#include "platform/win32/registry.h"

namespace k52::balview {

inline constexpr char kSettingsKey[] = "Software\\Morvex\\Settings";
inline constexpr char kLibraryValue[] = "CTAPI DLL";
inline constexpr char kDefaultLibrary[] = "ctqts32.dll";

std::string configuredLibrary(const win32::Registry& registry);

}  // namespace k52::balview

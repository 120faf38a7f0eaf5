// The texts of the version dialog, from the terminal's version object.
#pragma once

#include <string>

#include "tools/purse/ctapi_binding.h"

namespace k52::balview {

inline constexpr char kVersionUnknown[] = "Konnte nicht ermittelt werden...";
inline constexpr char kInterfaceLabel[] = "Schnittstelle";
inline constexpr char kDriverLabel[] = "Treiber";
inline constexpr char kFirmwareLabel[] = "Firmware";

struct VersionTexts {
  bool answered = false;  // the terminal answered the query
  std::string interface = kVersionUnknown;
  std::string driver = kVersionUnknown;
  std::string firmware = kVersionUnknown;
};

// Runs the version query: "Version %d.%d" of each byte's high and low nibble,
// with text 117 for a driver version 0 and text 118 for a firmware version 0.
// Without an accepted answer every field keeps kVersionUnknown.
VersionTexts queryVersionTexts(CtApiBinding& ct);

// The check after the window is shown: true when the query failed or reports
// no driver or no firmware, which opens the version dialog.
bool versionIncomplete(CtApiBinding& ct);

}  // namespace k52::balview

// What the interpreter reads and changes of a client session (`TTask`). The
// server owns the sessions; the interpreter works on the one a request found.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "chiphost/core/cdes.h"

namespace k52::chiphost {

enum class CryptMode : std::uint8_t { None = 0, Des = 1, Cdes = 2 };

using DesKey = std::array<std::uint8_t, 8>;

// A notification target: window and message number, at most one per window.
struct TTaskWnd {
  std::uint32_t window = 0;
  std::uint32_t message = 0;
  bool operator==(const TTaskWnd&) const = default;
};

struct Session {
  std::int32_t handle = 0;
  std::string language = "GERMAN";  // at most 20 characters
  std::string errorText;            // at most 80 characters; kept until the next failure
  CryptMode cryptMode = CryptMode::None;
  DesKey desKey{};
  Cdes8Key cdesKey{};
  std::vector<TTaskWnd> registrations;
  bool explicitSelect = false;
  // Wishes of Device SetMode and SetLed.
  bool noAsync = false;
  bool noSync = false;
  bool manualLed = false;
};

}  // namespace k52::chiphost

// What the PC/SC library needs from the machine it runs on. Production wires
// in pcsc-lite, the real clock, the prefix registry and the trace sink library;
// tests wire in a fake resource manager, a virtual clock and plain maps.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/clock/clock.h"
#include "platform/pcsc/pcsc.h"

namespace k52::ctbridge {

// The optional outside trace sink: one entry that takes a NUL-terminated text.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void print(const char* text) = 0;
};

struct Environment {
  pcsc::Api& pcsc;
  Clock& clock;
  // A value of the per-user configuration key; "" when missing.
  std::function<std::string(const std::string& valueName)> readConfig;
  // The trace sink library, or nullptr when it is missing or has no entry.
  std::function<std::unique_ptr<TraceSink>()> loadTraceSink;
  // The host file behind a Windows path, or nullopt.
  std::function<std::optional<std::filesystem::path>(const std::string& windowsPath)> hostPath;
};

}  // namespace k52::ctbridge

// The other end of a control request: a process asking the running k52sim.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

namespace k52::sim {

struct ControlReply {
  bool ok = false;
  std::string text;
};

inline constexpr std::chrono::milliseconds kControlTimeout{5000};

// Sends one control line (see control_request.h) to the k52sim serving
// `socketPath` and returns its answer. Throws std::runtime_error naming the
// path when no k52sim serves it or it does not answer in kControlTimeout.
ControlReply sendControl(const std::filesystem::path& socketPath, const std::string& line);

}  // namespace k52::sim

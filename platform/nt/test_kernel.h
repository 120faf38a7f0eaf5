// Kernels for the tests: the virtual one, or either one by parameter.
#pragma once

#include <memory>
#include <string>

#include "platform/nt/kernel.h"
#include "platform/nt/real_scheduler.h"
#include "platform/nt/virtual_scheduler.h"

namespace k52::nt {

enum class Clocking { Virtual, Real };

inline std::unique_ptr<Scheduler> makeScheduler(Clocking clocking, std::uint64_t seed = 1) {
  if (clocking == Clocking::Real) return std::make_unique<RealScheduler>();
  return std::make_unique<VirtualScheduler>(seed);
}

inline std::string clockingName(Clocking clocking) {
  return clocking == Clocking::Real ? "Real" : "Virtual";
}

// A relative NT time-out of `ms` milliseconds.
inline LARGE_INTEGER relativeMs(LONGLONG ms) {
  LARGE_INTEGER t;
  t.QuadPart = -ms * 10'000;
  return t;
}

}  // namespace k52::nt

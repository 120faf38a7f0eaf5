// The kernel model's low resources simulation, as Driver Verifier offers it:
// while one LowResourcesSimulation lives, every pool allocation fails, the
// way it does on a machine out of memory. For tests of drivers' failure
// paths.
#pragma once

namespace k52::nt {

class LowResourcesSimulation {
 public:
  LowResourcesSimulation();
  ~LowResourcesSimulation();
  LowResourcesSimulation(const LowResourcesSimulation&) = delete;
  LowResourcesSimulation& operator=(const LowResourcesSimulation&) = delete;

  // Whether one lives now.
  static bool active();
};

}  // namespace k52::nt

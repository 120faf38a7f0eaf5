#include "platform/nt/verifier/low_resources.h"

#include <atomic>

namespace k52::nt {
namespace {

std::atomic<int> lowResourceSimulations{0};

}  // namespace

LowResourcesSimulation::LowResourcesSimulation() {
  ++lowResourceSimulations;
}

LowResourcesSimulation::~LowResourcesSimulation() {
  --lowResourceSimulations;
}

bool LowResourcesSimulation::active() {
  return lowResourceSimulations > 0;
}

}  // namespace k52::nt

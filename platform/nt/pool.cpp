#include <cstdlib>

#include "platform/nt/io.h"
#include "platform/nt/verifier/low_resources.h"

namespace k52::nt {

PVOID ExAllocatePool(POOL_TYPE, SIZE_T NumberOfBytes) {
  if (LowResourcesSimulation::active()) return nullptr;
  return std::malloc(NumberOfBytes == 0 ? 1 : NumberOfBytes);
}

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG) {
  return ExAllocatePool(PoolType, NumberOfBytes);
}

void ExFreePool(PVOID P) {
  std::free(P);
}

}  // namespace k52::nt

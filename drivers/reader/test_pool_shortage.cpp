// Replaces the kernel model's pool routines in the test binary: the linker
// takes these and leaves the model's unused.
#include "drivers/reader/test_pool_shortage.h"

#include <atomic>
#include <cstdlib>

#include "platform/nt/io.h"

namespace k52::varnel {
namespace {

std::atomic<int> shortages{0};

}  // namespace

PoolShortage::PoolShortage() {
  ++shortages;
}

PoolShortage::~PoolShortage() {
  --shortages;
}

}  // namespace k52::varnel

namespace k52::nt {

PVOID ExAllocatePool(POOL_TYPE, SIZE_T NumberOfBytes) {
  if (varnel::shortages > 0) return nullptr;
  return std::malloc(NumberOfBytes == 0 ? 1 : NumberOfBytes);
}

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG) {
  return ExAllocatePool(PoolType, NumberOfBytes);
}

void ExFreePool(PVOID P) {
  std::free(P);
}

}  // namespace k52::nt

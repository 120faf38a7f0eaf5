// The kernel pool of the reader's tests: the kernel model's, except that a
// test can run short of it, as a machine out of memory does. The test
// binary links failing pool routines in place of the model's.
#pragma once

namespace k52::varnel {

// While one lives, every pool allocation fails.
class PoolShortage {
 public:
  PoolShortage();
  ~PoolShortage();
  PoolShortage(const PoolShortage&) = delete;
  PoolShortage& operator=(const PoolShortage&) = delete;
};

}  // namespace k52::varnel

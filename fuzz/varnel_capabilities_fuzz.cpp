// Arbitrary capability answers into a reader's attributes and capabilities:
// nothing may be read or written outside the answer and the attribute buffers.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "drivers/reader/reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace k52::nt;
  SMARTCARD_EXTENSION sc{};
  // An exact-size copy, so that ASan sees any read past the answer.
  std::vector<UCHAR> answer(data, data + size);
  k52::varnel::ParseCapabilities(&sc, answer.data(), static_cast<ULONG>(answer.size()));
  return 0;
}

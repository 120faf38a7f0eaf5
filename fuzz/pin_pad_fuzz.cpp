// Arbitrary PIN_VERIFY_STRUCTURE and PIN_MODIFY_STRUCTURE bytes: the mapping
// either refuses them or builds a request whose command object fits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "drivers/ifd/pin_pad.h"

namespace {

void check(const std::optional<std::vector<std::uint8_t>>& request) {
  if (!request) return;
  const std::vector<std::uint8_t>& r = *request;
  std::size_t at = 1;
  if (r.size() > 3 && r[1] == 0x80) at = 4;
  // The command object runs exactly to the end of the request.
  if (at + 1 >= r.size() || r[at] != 0x52 || at + 2 + r[at + 1] != r.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> structure(data, data + size);
  check(k52::ifd::verifyRequest(structure));
  check(k52::ifd::modifyRequest(structure));
  return 0;
}

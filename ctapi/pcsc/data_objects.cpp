#include "ctapi/pcsc/data_objects.h"

namespace k52::ctbridge {

ObjectVerdict walkDataObjects(
    std::span<const std::uint8_t> field,
    const std::function<ObjectVerdict(std::uint8_t tag, std::span<const std::uint8_t> value)>&
        visit) {
  // The offset is a full size_t: extended data fields run past 255 bytes.
  std::size_t offset = 0;
  while (offset < field.size()) {
    if (offset + 2 > field.size()) return kWrongLength;
    const std::size_t length = field[offset + 1];
    if (offset + 2 + length > field.size()) return kWrongLength;
    if (ObjectVerdict v = visit(field[offset], field.subspan(offset + 2, length)); v != kAccept) {
      return v;
    }
    offset += length + 2;
  }
  return kAccept;
}

}  // namespace k52::ctbridge

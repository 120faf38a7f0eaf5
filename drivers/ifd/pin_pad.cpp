#include "drivers/ifd/pin_pad.h"

#include <algorithm>

namespace k52::ifd {
namespace {

// Sizes of the two structures before their APDU (they are packed).
constexpr std::size_t kVerifyHeader = 19;
constexpr std::size_t kModifyHeader = 24;
constexpr std::size_t kApduHeader = 5;
constexpr std::uint8_t kVerifyCode = 0x6D;
constexpr std::uint8_t kModifyCode = 0x6E;
constexpr std::uint8_t kTimerTag = 0x80;
constexpr std::uint8_t kCommandTag = 0x52;

// The terminal's PIN codings (low nibble of its control byte).
enum Coding : std::uint8_t { kBcd = 0, kFormat2 = 1, kAscii = 2 };

struct Layout {
  std::uint8_t control;   // maximum digits, coding
  std::uint8_t position;  // of the PIN field in the APDU, CLA counting 0
  std::size_t fieldSize;  // bytes the terminal fills
};

std::uint32_t littleEndian32(std::span<const std::uint8_t> bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | std::uint32_t{bytes[3]} << 24;
}

// The PIN field from the format bytes: bmFormatString, bmPINBlockString,
// bmPINLengthFormat and the maximum number of digits.
std::optional<Layout> layoutOf(std::uint8_t format, std::uint8_t block, std::uint8_t lengthFormat,
                               std::uint8_t maxDigits) {
  const bool bytes = format & 0x80;
  const std::uint8_t offset = (format >> 3) & 0x0F;
  const std::uint8_t type = format & 0x03;
  if (maxDigits == 0) return std::nullopt;
  const auto digits = std::min<std::uint8_t>(maxDigits, 15);
  const bool lengthField =
      (block >> 4) == 4 && (lengthFormat & 0x0F) == 4 && !(lengthFormat & 0x10);
  if (type == 0x01 && lengthField) {
    // ISO 9564 format 2: the terminal writes the whole 8-byte block.
    return Layout{static_cast<std::uint8_t>(std::min<std::uint8_t>(digits, 14) << 4 | kFormat2),
                  static_cast<std::uint8_t>(kApduHeader), 8};
  }
  if (!bytes && offset != 0) return std::nullopt;  // positions in bits
  const auto position = static_cast<std::uint8_t>(kApduHeader + offset);
  if (type == 0x01) {
    return Layout{static_cast<std::uint8_t>(digits << 4 | kBcd), position,
                  static_cast<std::size_t>((digits + 1) / 2)};
  }
  if (type == 0x02) {
    return Layout{static_cast<std::uint8_t>(digits << 4 | kAscii), position, digits};
  }
  return std::nullopt;  // binary PINs
}

// [timer] 52 L control position position APDU: the position doubled, as the
// CT-API library hands PIN commands to the reader driver.
std::vector<std::uint8_t> request(std::uint8_t code, std::uint8_t timeout, const Layout& layout,
                                  std::span<const std::uint8_t> apdu) {
  std::vector<std::uint8_t> out{code};
  if (timeout) out.insert(out.end(), {kTimerTag, 0x01, timeout});
  out.push_back(kCommandTag);
  out.push_back(static_cast<std::uint8_t>(3 + apdu.size()));
  out.insert(out.end(), {layout.control, layout.position, layout.position});
  out.insert(out.end(), apdu.begin(), apdu.end());
  return out;
}

// The APDU behind a structure's header, when its length field is right and
// it holds at least the command header.
std::optional<std::span<const std::uint8_t>> apduOf(std::span<const std::uint8_t> structure,
                                                    std::size_t header) {
  if (structure.size() < header) return std::nullopt;
  const std::uint32_t length = littleEndian32(structure.subspan(header - 4, 4));
  const auto apdu = structure.subspan(header);
  // 252 keeps the command object's length within one byte.
  if (length != apdu.size() || apdu.size() < kApduHeader || apdu.size() > 252) return std::nullopt;
  return apdu;
}

}  // namespace

std::vector<std::uint8_t> featureList() {
  std::vector<std::uint8_t> list;
  for (const auto& [tag, code] : {std::pair{kFeatureVerifyPinDirect, kVerifyPinDirect},
                                  std::pair{kFeatureModifyPinDirect, kModifyPinDirect}}) {
    list.insert(
        list.end(),
        {tag, 4, static_cast<std::uint8_t>(code >> 24), static_cast<std::uint8_t>(code >> 16),
         static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code)});
  }
  return list;
}

std::optional<std::vector<std::uint8_t>> verifyRequest(std::span<const std::uint8_t> s) {
  const auto apdu = apduOf(s, kVerifyHeader);
  if (!apdu) return std::nullopt;
  const auto layout = layoutOf(s[2], s[3], s[4], s[5]);  // wPINMaxExtraDigit: max in its low byte
  if (!layout || layout->position + layout->fieldSize > apdu->size()) return std::nullopt;
  return request(kVerifyCode, s[0], *layout, *apdu);
}

std::optional<std::vector<std::uint8_t>> modifyRequest(std::span<const std::uint8_t> s) {
  const auto apdu = apduOf(s, kModifyHeader);
  if (!apdu) return std::nullopt;
  // The insertion offsets place the two PINs; the format byte's own offset
  // does not count here.
  auto layout = layoutOf(s[2] & 0x87, s[3], s[4], s[7]);
  const std::uint8_t offsetOld = s[5];
  const std::uint8_t offsetNew = s[6];
  const std::uint8_t confirm = s[9];
  // The terminal asks for the current PIN, then the new one twice, and puts
  // the new PIN right behind the current one.
  if (!layout || confirm != 0x03 || offsetNew != offsetOld + layout->fieldSize) return std::nullopt;
  if (layout->control % 16 == kFormat2 && offsetOld != 0) return std::nullopt;
  layout->position = static_cast<std::uint8_t>(kApduHeader + offsetOld);
  if (layout->position + 2 * layout->fieldSize > apdu->size()) return std::nullopt;
  return request(kModifyCode, s[0], *layout, *apdu);
}

}  // namespace k52::ifd

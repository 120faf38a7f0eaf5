#include "sim/k52fw/pin_command.h"

#include <algorithm>

#include "sim/k52fw/terminal_link.h"

namespace k52::sim {
namespace {

constexpr std::uint8_t kTagTimer = 0x80;
constexpr std::uint8_t kTagDisplay = 0x50;
constexpr std::uint8_t kTagCommand = 0x52;
// CLA INS P1 P2 Lc: the PIN goes into the command data.
constexpr std::size_t kFirstDataByte = 5;
// ISO 9564 format 2: control nibble 2, length nibble, 14 digit nibbles.
constexpr std::size_t kFormat2Size = 8;
constexpr std::size_t kFormat2MaxDigits = 14;
constexpr std::size_t kShortestPin = 4;

std::optional<PinCoding> codingOf(std::uint8_t nibble) {
  switch (nibble) {
    case 0:
      return PinCoding::kBcd;
    case 1:
      return PinCoding::kFormat2;
    case 2:
      return PinCoding::kAscii;
    default:
      return std::nullopt;
  }
}

void putBcd(std::span<std::uint8_t> field, std::span<const std::uint8_t> digits,
            std::size_t firstNibble) {
  std::ranges::fill(field, 0xFF);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const std::size_t nibble = firstNibble + i;
    std::uint8_t& byte = field[nibble / 2];
    byte = nibble % 2 == 0 ? static_cast<std::uint8_t>((byte & 0x0F) | digits[i] << 4)
                           : static_cast<std::uint8_t>((byte & 0xF0) | digits[i]);
  }
}

}  // namespace

std::size_t PinCommand::fieldSize() const {
  switch (coding) {
    case PinCoding::kBcd:
      return (maxDigits + 1) / 2;
    case PinCoding::kFormat2:
      return kFormat2Size;
    case PinCoding::kAscii:
      return maxDigits;
  }
  return 0;
}

std::optional<PinCommand> parsePinCommand(std::uint8_t command,
                                          std::span<const std::uint8_t> data) {
  if (command != link::kVerifyPin && command != link::kModifyPin) return std::nullopt;
  PinCommand pin;
  pin.modify = command == link::kModifyPin;

  std::optional<std::span<const std::uint8_t>> value;
  bool sequenced = false;
  bool leadingTimer = false;
  for (std::size_t at = 0, index = 0; at < data.size(); ++index) {
    if (data.size() - at < 2) return std::nullopt;
    const std::uint8_t tag = data[at];
    const std::size_t length = data[at + 1];
    if (data.size() - at - 2 < length) return std::nullopt;
    const auto body = data.subspan(at + 2, length);
    switch (tag) {
      case kTagTimer:
        if (length != 1) return std::nullopt;
        if (body[0] != 0) pin.timeout = std::chrono::seconds(body[0]);
        if (index == 0) leadingTimer = true;
        break;
      case kTagDisplay:
        break;  // no display to show it on
      case kTagCommand:
        if (value) return std::nullopt;
        value = body;
        sequenced = index == 0 || (index == 1 && leadingTimer);
        break;
      default:
        return std::nullopt;
    }
    at += 2 + length;
  }
  if (!value) return std::nullopt;

  std::span<const std::uint8_t> v = *value;
  const std::size_t fixed = sequenced ? 3 : 2;  // control, [sequence], position
  if (v.size() < fixed + kFirstDataByte) return std::nullopt;
  const std::uint8_t control = v[0];
  if (sequenced) pin.sequence = v[1];
  pin.position = v[fixed - 1];
  pin.apdu.assign(v.begin() + static_cast<std::ptrdiff_t>(fixed), v.end());

  const auto coding = codingOf(control & 0x0F);
  pin.maxDigits = control >> 4;
  if (!coding || pin.maxDigits == 0) return std::nullopt;
  pin.coding = *coding;
  if (pin.coding == PinCoding::kFormat2 && pin.maxDigits > kFormat2MaxDigits) return std::nullopt;
  pin.minDigits = std::min(kShortestPin, pin.maxDigits);

  const std::size_t fields = pin.modify ? 2 : 1;
  if (pin.position < kFirstDataByte || pin.position > pin.apdu.size() ||
      pin.apdu.size() - pin.position < fields * pin.fieldSize()) {
    return std::nullopt;
  }
  return pin;
}

std::vector<std::uint8_t> buildPinApdu(const PinCommand& command,
                                       std::span<const std::vector<std::uint8_t>> pins) {
  std::vector<std::uint8_t> apdu = command.apdu;
  std::size_t at = command.position;
  for (const auto& digits : pins) {
    const auto field = std::span(apdu).subspan(at, command.fieldSize());
    switch (command.coding) {
      case PinCoding::kBcd:
        putBcd(field, digits, 0);
        break;
      case PinCoding::kFormat2: {
        const auto block = format2PinBlock(digits);
        std::ranges::copy(block, field.begin());
        break;
      }
      case PinCoding::kAscii:
        // Bytes beyond the PIN keep the application's filler.
        for (std::size_t i = 0; i < digits.size(); ++i) {
          field[i] = static_cast<std::uint8_t>('0' + digits[i]);
        }
        break;
    }
    at += command.fieldSize();
  }
  return apdu;
}

std::vector<std::uint8_t> format2PinBlock(std::span<const std::uint8_t> digits) {
  std::vector<std::uint8_t> block(kFormat2Size);
  const auto shown = digits.first(std::min(digits.size(), kFormat2MaxDigits));
  putBcd(block, shown, 2);
  block[0] = static_cast<std::uint8_t>(0x20 | shown.size());
  return block;
}

}  // namespace k52::sim

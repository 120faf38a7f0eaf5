// The data field of the PIN commands 0x6D (verify) and 0x6E (modify), and
// the card command the terminal builds from it once the PIN is typed. The
// rules for the control bytes are in docs/k52-terminal-firmware.md.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace k52::sim {

enum class PinCoding : std::uint8_t { kBcd = 0, kFormat2 = 1, kAscii = 2 };

struct PinCommand {
  // 0x6E: old PIN, new PIN and the new PIN once more.
  bool modify = false;
  // For each PIN typed.
  std::chrono::seconds timeout{15};
  // The host's T=1 sequence byte, present when the command object comes
  // first (or right behind a leading timer).
  std::optional<std::uint8_t> sequence;
  PinCoding coding = PinCoding::kBcd;
  std::size_t minDigits = 4;
  std::size_t maxDigits = 12;
  // Where the first PIN goes in the card command, CLA counting 0.
  std::size_t position = 5;
  std::vector<std::uint8_t> apdu;

  // Entries typed on the keypad: 1, or 3 for a modify.
  std::size_t entries() const { return modify ? 3 : 1; }
  // Bytes one PIN takes in the card command.
  std::size_t fieldSize() const;
};

inline constexpr std::chrono::seconds kDefaultPinTimeout{15};

// nullopt for anything the terminal cannot carry out (it answers 64 02).
// `data` is the command's data field after the command byte.
std::optional<PinCommand> parsePinCommand(std::uint8_t command, std::span<const std::uint8_t> data);

// The card command with the PINs (digits 0..9) in place: the first at
// `position`, for a modify the new one right behind it. `pins` holds the
// PINs the card gets (old and new), each within the command's digit limits.
std::vector<std::uint8_t> buildPinApdu(const PinCommand& command,
                                       std::span<const std::vector<std::uint8_t>> pins);

// The 8-byte ISO 9564 format-2 block of `digits` (at most 14).
std::vector<std::uint8_t> format2PinBlock(std::span<const std::uint8_t> digits);

}  // namespace k52::sim

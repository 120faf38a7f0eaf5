// Command line of k52serial.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sim/card/atr.h"
#include "sim/k52fw/keypad.h"

namespace k52::sim {

struct SerialOptions {
  std::string link;                    // symbolic link to the pty slave
  std::optional<std::uint32_t> purse;  // insert a purse card with this balance
  AtrProtocols protocols = AtrProtocols::kT0AndT1;
  std::vector<std::uint8_t> pin;  // the card also guards itself with this PIN
  std::vector<KeypadKey> keypad;  // typed at each PIN entry
  bool help = false;
};

inline constexpr std::string_view kSerialUsage =
    "usage: k52serial [--link PATH] [--purse CENTS] [--atr t0|t1|both] [--pin DIGITS]\n"
    "                 [--keypad KEYS]\n"
    "The K52 card terminal on a serial line: opens a pseudo terminal, prints the\n"
    "path of its slave side and answers the terminal link's frames there (the\n"
    "host sets 9600 baud, 8E2) until SIGTERM or SIGINT.\n"
    "  --link PATH     also make PATH a symbolic link to the slave side\n"
    "  --purse CENTS   insert a purse card with this balance, 0..999999\n"
    "  --atr ...       protocols the purse card offers (default both)\n"
    "  --pin DIGITS    insert the purse card (balance 0 unless --purse) with a PIN\n"
    "                  application too (AID D27600009850494E), whose VERIFY expects\n"
    "                  the format-2 block of these 4..12 digits\n"
    "  --keypad KEYS   keys typed on the keypad whenever the terminal asks for a\n"
    "                  PIN: digits, E for Enter, C for Cancel, B for Backspace\n";

// The arguments after the program name. Returns the options or an error
// message naming the offending argument.
std::variant<SerialOptions, std::string> parseSerialOptions(std::span<const std::string_view> args);

}  // namespace k52::sim

// Command line of k52sim.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sim/k52fw/card_description.h"
#include "sim/k52fw/keypad.h"
#include "sim/k52sim/control_request.h"

namespace k52::sim {

struct K52simOptions {
  std::optional<std::string> prefix;
  std::optional<std::string> socket;
  // Serving: the card in the slot at start, the keys typed at each PIN entry.
  std::optional<CardDescription> card;
  std::vector<KeypadKey> keypad;
  // A control subcommand for the running k52sim, as its line; empty to serve.
  std::string command;
  bool help = false;
};

inline constexpr std::string_view kK52simUsage =
    "usage: k52sim [--prefix DIR] [--socket PATH] [--card CARD] [--keypad KEYS]\n"
    "       k52sim [--prefix DIR] [--socket PATH] COMMAND\n"
    "The K52 keyboard with its card terminal as a process of its own. Without a\n"
    "command it serves the keyboard's ports to one PC at a time on a Unix socket\n"
    "(default <prefix>/run/k52sim.sock), prints the socket's path once ready and\n"
    "runs until SIGTERM or SIGINT. The prefix is DIR, else $K52_PREFIX, else\n"
    "~/.local/share/k52kit.\n"
    "  --card CARD     start with this card in the slot\n"
    "  --keypad KEYS   keys typed on the keypad whenever the terminal asks for a PIN\n"
    "Commands for the running k52sim:\n"
    "  insert CARD     put a card into the slot\n"
    "  pull            take the card out\n"
    "  keys KEYS       press keypad keys now, one every 200 ms\n"
    "  pin-keys KEYS   press these keys when the next PIN entry starts\n"
    "  status          whether a card is in the slot and a PC is connected\n"
    "CARD: purse:CENTS[:t0|t1|both][:pin=DIGITS] (a purse card, 0..999999 cents)\n"
    "      or pin:DIGITS[:t0|t1|both] (a purse card holding 0 with a PIN\n"
    "      application expecting the format-2 block of these 4..12 digits)\n"
    "KEYS: digits, E for Enter, C for Cancel, B for Backspace\n";

// The arguments after the program name. Returns the options or an error
// message naming the offending argument.
std::variant<K52simOptions, std::string> parseK52simOptions(std::span<const std::string_view> args);

}  // namespace k52::sim

// Command line of fnxsim.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "sim/fnx/fnx_firmware.h"
#include "sim/k52fw/card_description.h"

namespace k52::sim {

struct FnxsimOptions {
  std::optional<std::string> prefix;
  std::optional<std::string> socket;
  std::optional<std::string> link;
  std::optional<std::string> trace;
  FnxConfig config;
  std::optional<CardDescription> cards[2];
  // --faults SEED,RATE: each frame suffers a random fault with this chance.
  std::optional<unsigned> faultSeed;
  double faultRate = 0;
  // --driver N: serve "\\.\pvkms.Vxd" for COM N instead of a pty.
  int driver = 0;
  // A control command for the running fnxsim, as its line; empty to serve.
  std::string command;
  bool help = false;
};

inline constexpr std::string_view kFnxsimUsage =
    "usage: fnxsim [--prefix DIR] [--socket PATH] [--link PATH | --driver N] [--type N]\n"
    "              [--firmware V] [--lot N] [--serial N] [--max-speed BAUD] [--card CARD]\n"
    "              [--card2 CARD] [--trace FILE] [--faults SEED,RATE]\n"
    "       fnxsim [--prefix DIR] [--socket PATH] COMMAND\n"
    "An FNX card reader as a process of its own. Without a command it serves the\n"
    "reader on a pty (its slave path is printed; --link makes a symbolic link to it)\n"
    "or, with --driver N, as the serial-sharing driver \"\\\\.\\pvkms.Vxd\" owning COM N\n"
    "(on the device socket <prefix>/run/devices/), and runs until SIGTERM or SIGINT.\n"
    "Control socket: PATH, default <prefix>/run/fnxsim.sock.\n"
    "  --type N         reader type 1..13 (7 or 8: the two-slot twin), default 1\n"
    "  --firmware V     firmware version byte, decimal or 0x.., default 0x42\n"
    "  --lot N --serial N   the reader's identity, default 0\n"
    "  --max-speed BAUD fastest rate the reader reads, default 115200\n"
    "  --card CARD --card2 CARD   cards in slots 1 and 2 at start\n"
    "  --trace FILE     a line per frame, answer, raw run and driver call\n"
    "  --faults SEED,RATE   random lost answers, lost commands and garbled\n"
    "                   answers, each frame with chance RATE (0..1)\n"
    "Commands for the running fnxsim:\n"
    "  insert [2] CARD, pull [2], drop-answers N, drop-commands N, garble N,\n"
    "  mute [N], share MS, status\n"
    "CARD: purse:CENTS[:t0|t1|both][:pin=DIGITS] or pin:DIGITS[:t0|t1|both]\n";

std::variant<FnxsimOptions, std::string> parseFnxsimOptions(std::span<const std::string_view> args);

}  // namespace k52::sim

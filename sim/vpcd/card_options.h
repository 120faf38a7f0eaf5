// Command line of k52card.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace k52::sim {

struct CardOptions {
  std::uint16_t port = 0x8C7B;  // the driver's default channel
  std::uint32_t balance = 0;    // cents
  std::vector<std::uint8_t> atr;
  std::chrono::seconds wait{10};  // how long to retry reaching the reader
  std::string readyFile;          // written once the reader has powered the card
  bool help = false;
};

inline constexpr std::string_view kCardUsage =
    "usage: k52card [--port N] [--balance CENTS] [--atr t0|t1|both|HEX]\n"
    "               [--wait SECONDS] [--ready-file PATH]\n"
    "Puts a simulated purse card into the vpcd reader listening on 127.0.0.1:N\n"
    "(default 35963) and serves it until SIGTERM or SIGINT. If the reader goes\n"
    "away, the card is reinserted as soon as it listens again.\n"
    "  --balance CENTS   purse balance, 0..999999 (default 0)\n"
    "  --atr ...         ready ATR for T=0, T=1 or both (default both), or hex bytes\n"
    "  --wait SECONDS    give up when the reader cannot be reached this long (10)\n"
    "  --ready-file PATH create PATH when the reader has powered the card up\n";

// The arguments after the program name. Returns the options or an error
// message naming the offending argument.
std::variant<CardOptions, std::string> parseCardOptions(std::span<const std::string_view> args);

}  // namespace k52::sim

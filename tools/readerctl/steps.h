// readerctl's command line: options, the COM port and the steps to run on
// its reader, in order.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace k52::readerctl {

struct Step {
  enum class Kind {
    kAttach,
    kRecheck,
    kInfo,
    kPresent,
    kLed,
    kSpeed,
    kParity,
    kPower,
    kReset,
    kReceive,
    kTransmit,
    kCounters,
    kSleep,
  };
  Kind kind = Kind::kInfo;
  int mode = 0;                     // attach, recheck
  std::int32_t value = 0;           // led, speed, parity, reset variant, receive count, sleep ms
  bool on = false;                  // power
  std::vector<std::uint8_t> bytes;  // transmit
  std::uint32_t expected = 0;       // transmit M
  std::uint32_t first = 1000;       // transmit F, receive MS
  std::uint32_t next = 100;         // transmit G
  bool end = false;                 // transmit end
};

struct Invocation {
  std::optional<std::string> prefix;
  int slot = 0;
  int port = 0;
  std::vector<Step> steps;
  bool help = false;
};

inline constexpr std::string_view kReaderctlUsage =
    "usage: readerctl [--prefix DIR] [--slot N] COMn STEP...\n"
    "Runs steps on the card reader at COMn (1..15) the way the card server does,\n"
    "printing key=value lines. A failed step prints its code and text; the others\n"
    "still run and readerctl exits 1. --slot 1 is the second slot of a twin.\n"
    "Steps:\n"
    "  attach[=MODE]          detect the reader (MODE 0, or 2 with 301 progress)\n"
    "  recheck=3|4            the same reader still / quick presence check\n"
    "  info                   type, name, version, LotNr, Serial, MaxBaudrate\n"
    "  present                card present and changed\n"
    "  led N                  LED pattern 0..3, or 13..22 for a baud rate code\n"
    "  speed B                switch reader and port to B baud\n"
    "  parity P               card character parity: 1 odd, 2 even\n"
    "  power on|off           card power\n"
    "  reset V                card reset with variant 0 or 1: the first ATR byte\n"
    "  receive N [MS]         up to N bytes from the card, each within MS (1000)\n"
    "  transmit HEX M [F G] [end]   send the bytes, expect M back, the first\n"
    "                         within F ms (1000), the others within G (100)\n"
    "  counters               frames, transfers, errors, driver channel state\n"
    "  sleep MS               wait, handling messages and the driver's timer\n";

// The arguments after the program name, or a message naming the fault.
std::variant<Invocation, std::string> parseInvocation(std::span<const std::string_view> args);

}  // namespace k52::readerctl

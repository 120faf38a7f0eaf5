// The command line of vrlctl: options, then a list of steps carried out in
// order against the simulated keyboard PC.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace k52::vrlctl {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Op {
  // control requests of the channel
  Version,
  Hook,
  Unhook,
  FifoCount,
  FifoRead,
  FifoPeek,
  FifoClear,
  FilterOn,
  FilterOff,
  FilterMode,
  FilterSet,  // value
  CmdByte,
  CmdByteSet,  // value
  PortRead,    // port
  PortWrite,   // port, value
  KbIntOn,
  KbIntOff,
  Tick,
  Ack,
  Hold,
  // the simulation
  Keys,   // bytes: codes the keyboard sends
  Wait,   // ms
  Typed,  // print what the keystroke reader received
};

struct Step {
  Op op;
  std::string name;  // as written
  std::vector<std::uint8_t> bytes;
  std::uint32_t number = 0;
};

struct CommandLine {
  bool help = false;
  // Requests go out as those of an unprivileged user even when run as root.
  bool asUser = false;
  std::optional<std::string> prefix;
  std::vector<Step> steps;
};

// Throws UsageError for anything it does not understand.
CommandLine parseCommandLine(const std::vector<std::string_view>& args);

}  // namespace k52::vrlctl

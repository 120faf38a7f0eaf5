#include "tools/vrlctl/command_line.h"

#include <charconv>

namespace k52::vrlctl {
namespace {

struct Verb {
  std::string_view name;
  Op op;
  enum Args { None, Byte, Word, PortByte, PortAndByte, Bytes, Millis } args;
};

constexpr Verb kVerbs[] = {
    {"version", Op::Version, Verb::None},
    {"hook", Op::Hook, Verb::None},
    {"unhook", Op::Unhook, Verb::None},
    {"fifo-count", Op::FifoCount, Verb::None},
    {"fifo-read", Op::FifoRead, Verb::None},
    {"fifo-peek", Op::FifoPeek, Verb::None},
    {"fifo-clear", Op::FifoClear, Verb::None},
    {"filter-on", Op::FilterOn, Verb::None},
    {"filter-off", Op::FilterOff, Verb::None},
    {"filter-mode", Op::FilterMode, Verb::None},
    {"filter-set", Op::FilterSet, Verb::Word},
    {"cmdbyte", Op::CmdByte, Verb::None},
    {"cmdbyte-set", Op::CmdByteSet, Verb::Byte},
    {"port-read", Op::PortRead, Verb::PortByte},
    {"port-write", Op::PortWrite, Verb::PortAndByte},
    {"kbint-on", Op::KbIntOn, Verb::None},
    {"kbint-off", Op::KbIntOff, Verb::None},
    {"tick", Op::Tick, Verb::None},
    {"ack", Op::Ack, Verb::None},
    {"hold", Op::Hold, Verb::None},
    {"keys", Op::Keys, Verb::Bytes},
    {"wait", Op::Wait, Verb::Millis},
    {"typed", Op::Typed, Verb::None},
};

std::optional<std::uint32_t> number(std::string_view text, int base, std::uint32_t max) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value > max) {
    return std::nullopt;
  }
  return value;
}

std::uint8_t hexByte(std::string_view verb, std::string_view text) {
  const auto value = number(text, 16, 0xFF);
  if (!value) throw UsageError(std::string(verb) + ": '" + std::string(text) + "' is no hex byte");
  return static_cast<std::uint8_t>(*value);
}

std::uint8_t controllerPort(std::string_view verb, std::string_view text) {
  const std::uint8_t port = hexByte(verb, text);
  if (port != 0x60 && port != 0x64) {
    throw UsageError(std::string(verb) + ": the port is 60 or 64");
  }
  return port;
}

bool isVerb(std::string_view word) {
  for (const Verb& verb : kVerbs) {
    if (verb.name == word) return true;
  }
  return false;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string_view>& args) {
  CommandLine line;
  std::size_t i = 0;
  for (; i < args.size() && args[i].starts_with("-"); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      line.help = true;
      return line;
    } else if (args[i] == "--user") {
      line.asUser = true;
    } else if (args[i] == "--prefix" && i + 1 < args.size()) {
      line.prefix = std::string(args[++i]);
    } else {
      throw UsageError("unknown option '" + std::string(args[i]) + "'");
    }
  }
  if (i == args.size()) throw UsageError("no command");
  while (i < args.size()) {
    const std::string_view word = args[i++];
    const Verb* verb = nullptr;
    for (const Verb& v : kVerbs) {
      if (v.name == word) verb = &v;
    }
    if (verb == nullptr) throw UsageError("unknown command '" + std::string(word) + "'");
    Step step{verb->op, std::string(word), {}, 0};
    const auto need = [&](std::size_t count) {
      if (args.size() - i < count) throw UsageError(std::string(word) + ": argument missing");
    };
    switch (verb->args) {
      case Verb::None:
        break;
      case Verb::Byte:
        need(1);
        step.number = hexByte(word, args[i++]);
        break;
      case Verb::Word: {
        need(1);
        const auto value = number(args[i++], 16, 0xFFFF);
        if (!value) throw UsageError(std::string(word) + ": a hex word, 0 to ffff");
        step.number = *value;
        break;
      }
      case Verb::PortByte:
        need(1);
        step.bytes = {controllerPort(word, args[i++])};
        break;
      case Verb::PortAndByte:
        need(2);
        step.bytes = {controllerPort(word, args[i]), hexByte(word, args[i + 1])};
        i += 2;
        break;
      case Verb::Bytes:
        while (i < args.size() && !isVerb(args[i])) step.bytes.push_back(hexByte(word, args[i++]));
        if (step.bytes.empty()) throw UsageError(std::string(word) + ": no codes");
        break;
      case Verb::Millis: {
        need(1);
        const auto ms = number(args[i++], 10, 3'600'000);
        if (!ms) throw UsageError(std::string(word) + ": milliseconds, at most one hour");
        step.number = *ms;
        break;
      }
    }
    line.steps.push_back(std::move(step));
  }
  return line;
}

}  // namespace k52::vrlctl

#include "tools/readerctl/steps.h"

#include <charconv>

namespace k52::readerctl {

namespace {

std::optional<long> number(std::string_view text, long min, long max) {
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < min ||
      value > max) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::vector<std::uint8_t>> hexBytes(std::string_view text) {
  if (text.empty() || text.size() % 2 != 0 || text.size() > 2 * 1024) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    std::uint8_t b = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, b, 16);
    if (error != std::errc() || end != text.data() + i + 2) return std::nullopt;
    bytes.push_back(b);
  }
  return bytes;
}

std::optional<int> comPort(std::string_view text) {
  if (text.size() < 4 || (text.substr(0, 3) != "COM" && text.substr(0, 3) != "com")) {
    return std::nullopt;
  }
  auto n = number(text.substr(3), 1, 15);
  if (!n || text[3] == '0') return std::nullopt;
  return static_cast<int>(*n);
}

class Reader {
 public:
  explicit Reader(std::span<const std::string_view> words) : words_(words) {}
  bool done() const { return at_ >= words_.size(); }
  std::string_view take() { return words_[at_++]; }
  std::optional<std::string_view> peek() const {
    return done() ? std::nullopt : std::optional(words_[at_]);
  }
  // The next word as a number, when it is one.
  std::optional<long> takeNumber(long min, long max) {
    if (done()) return std::nullopt;
    auto n = number(words_[at_], min, max);
    if (n) ++at_;
    return n;
  }

 private:
  std::span<const std::string_view> words_;
  std::size_t at_ = 0;
};

std::variant<Step, std::string> parseStep(Reader& r) {
  const std::string_view word = r.take();
  Step s;
  using K = Step::Kind;
  auto need = [&](long min, long max, const char* what) -> std::optional<std::string> {
    auto n = r.takeNumber(min, max);
    if (!n) return std::string(word) + " needs " + what;
    s.value = static_cast<std::int32_t>(*n);
    return std::nullopt;
  };
  if (word == "attach" || word.starts_with("attach=")) {
    s.kind = K::kAttach;
    if (word.size() > 6) {
      auto mode = number(word.substr(7), 0, 2);
      if (!mode || *mode == 1) return std::string("attach takes mode 0 or 2");
      s.mode = static_cast<int>(*mode);
    }
    return s;
  }
  if (word == "recheck=3" || word == "recheck=4") {
    s.kind = K::kRecheck;
    s.mode = word.back() - '0';
    return s;
  }
  if (word == "info") return Step{.kind = K::kInfo};
  if (word == "present") return Step{.kind = K::kPresent};
  if (word == "counters") return Step{.kind = K::kCounters};
  std::optional<std::string> error;
  if (word == "led") {
    s.kind = K::kLed;
    error = need(0, 22, "a code 0..3 or 13..22");
    if (!error && s.value > 3 && s.value < 13) error = "led needs a code 0..3 or 13..22";
  } else if (word == "speed") {
    s.kind = K::kSpeed;
    error = need(300, 4000000, "a baud rate");
  } else if (word == "parity") {
    s.kind = K::kParity;
    error = need(1, 2, "1 (odd) or 2 (even)");
  } else if (word == "reset") {
    s.kind = K::kReset;
    error = need(0, 1, "variant 0 or 1");
  } else if (word == "sleep") {
    s.kind = K::kSleep;
    error = need(0, 3600000, "milliseconds");
  } else if (word == "power") {
    s.kind = K::kPower;
    const auto arg = r.peek();
    if (arg != "on" && arg != "off") return std::string("power needs on or off");
    s.on = r.take() == "on";
  } else if (word == "receive") {
    s.kind = K::kReceive;
    error = need(1, 1024, "a byte count 1..1024");
    if (auto ms = r.takeNumber(0, 600000)) s.first = static_cast<std::uint32_t>(*ms);
  } else if (word == "transmit") {
    s.kind = K::kTransmit;
    if (r.done()) return std::string("transmit needs HEX and M");
    auto bytes = hexBytes(r.take());
    if (!bytes) return std::string("transmit needs its bytes as hex digits (at most 1024 bytes)");
    s.bytes = std::move(*bytes);
    auto m = r.takeNumber(0, 1024);
    if (!m) return std::string("transmit needs the count M of bytes expected");
    s.expected = static_cast<std::uint32_t>(*m);
    if (auto f = r.takeNumber(0, 600000)) {
      s.first = static_cast<std::uint32_t>(*f);
      auto g = r.takeNumber(0, 600000);
      if (!g) return std::string("transmit takes F and G together");
      s.next = static_cast<std::uint32_t>(*g);
    }
    if (r.peek() == "end") {
      r.take();
      s.end = true;
    }
  } else {
    return "unknown step \"" + std::string(word) + "\"";
  }
  if (error) return *error;
  return s;
}

}  // namespace

std::variant<Invocation, std::string> parseInvocation(std::span<const std::string_view> args) {
  Invocation inv;
  std::size_t i = 0;
  for (; i < args.size() && args[i].starts_with("--"); ++i) {
    if (args[i] == "--help") {
      inv.help = true;
      return inv;
    }
    if (i + 1 >= args.size()) return "\"" + std::string(args[i]) + "\" needs a value";
    if (args[i] == "--prefix") {
      inv.prefix = std::string(args[++i]);
    } else if (args[i] == "--slot") {
      auto n = number(args[++i], 0, 1);
      if (!n) return std::string("--slot takes 0 or 1");
      inv.slot = static_cast<int>(*n);
    } else {
      return "unknown option \"" + std::string(args[i]) + "\"";
    }
  }
  if (i >= args.size()) return std::string("no COM port given");
  auto port = comPort(args[i++]);
  if (!port) return "not a COM port (COM1..COM15): \"" + std::string(args[i - 1]) + "\"";
  inv.port = *port;
  Reader r(args.subspan(i));
  if (r.done()) return std::string("no steps given");
  while (!r.done()) {
    auto step = parseStep(r);
    if (auto* message = std::get_if<std::string>(&step)) return *message;
    inv.steps.push_back(std::get<Step>(step));
  }
  return inv;
}

}  // namespace k52::readerctl

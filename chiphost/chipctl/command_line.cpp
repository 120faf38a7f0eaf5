#include "chiphost/chipctl/command_line.h"

#include "platform/text/hex.h"

namespace k52::chiphost::chipctl {

namespace {

std::int64_t seconds(const std::string& text) {
  std::size_t used = 0;
  std::int64_t value = -1;
  try {
    value = std::stoll(text, &used);
  } catch (const std::exception&) {
  }
  if (used != text.size() || value < 0)
    throw UsageError("--watch-seconds needs a number of seconds");
  return value;
}

}  // namespace

Options parseCommandLine(const std::vector<std::string>& args) {
  Options o;
  std::optional<std::vector<std::uint8_t>> pendingData;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--prefix") {
      o.prefix = value();
    } else if (a == "--shm") {
      o.sharedMemory = true;
    } else if (a == "--hex") {
      o.hex = true;
    } else if (a == "--watch") {
      o.watch = true;
    } else if (a == "--watch-seconds") {
      o.watch = true;
      o.watchSeconds = seconds(value());
    } else if (a == "--data") {
      pendingData = text::parseHex(value());
      if (!pendingData) throw UsageError("--data needs hex bytes");
    } else if (a.size() > 1 && a.rfind("--", 0) == 0) {
      throw UsageError("unknown option " + a);
    } else {
      o.commands.push_back({a, pendingData.value_or(std::vector<std::uint8_t>{})});
      pendingData.reset();
    }
  }
  if (o.help) return o;
  if (pendingData) throw UsageError("--data without a command after it");
  if (o.commands.empty() && !o.watch) throw UsageError("no command given");
  return o;
}

}  // namespace k52::chiphost::chipctl

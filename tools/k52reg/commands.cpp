#include "tools/k52reg/commands.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

#include "platform/win32/internal/reg_file.h"

namespace k52::k52reg {

namespace {

using win32::Registry;
using win32::RegValue;
using win32::RootKey;

struct KeyName {
  RootKey root;
  std::string path;
  std::string full;  // as the user wrote it, for messages
};

void expectOperands(const CommandLine& line, std::size_t min, std::size_t max,
                    std::string_view usage) {
  if (line.operands.size() < min || line.operands.size() > max) {
    throw UsageError("usage: k52reg " + std::string(usage));
  }
}

KeyName keyName(const std::string& full) {
  auto split = Registry::splitKeyName(full);
  if (!split) throw UsageError("'" + full + "' is not a key below HKLM\\ or HKCU\\");
  return KeyName{split->first, std::move(split->second), full};
}

// "@" stands for the key's default value, whose name is empty.
std::string valueName(const std::string& operand) {
  return operand == "@" ? "" : operand;
}

std::uint32_t parseDword(std::string_view text) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    throw UsageError("--dword needs a number from 0 to 4294967295 (or 0x0 to 0xffffffff)");
  }
  return value;
}

RegValue parseValue(const CommandLine& line, const std::string& text) {
  switch (line.type) {
    case ValueType::Dword:
      return parseDword(text);
    case ValueType::Binary:
      if (auto bytes = win32::parseHexList(text)) return std::move(*bytes);
      throw UsageError("--hex needs bytes like 01,a2,ff");
    case ValueType::String:
      break;
  }
  return text;
}

// The form `set` accepts back with the matching type option.
std::string formatValue(const RegValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* number = std::get_if<std::uint32_t>(&value)) return std::to_string(*number);
  std::string hex;
  for (const std::uint8_t byte : std::get<std::vector<std::uint8_t>>(value)) {
    static constexpr char kDigits[] = "0123456789abcdef";
    if (!hex.empty()) hex += ',';
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xf];
  }
  return hex;
}

std::string readInput(const std::string& file, std::istream& in) {
  if (file == "-") return std::string(std::istreambuf_iterator<char>(in), {});
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(std::fopen(file.c_str(), "rb"),
                                                               &std::fclose);
  std::string text;
  if (stream) {
    char buffer[65536];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, stream.get())) {
      text.append(buffer, n);
    }
  }
  if (!stream || std::ferror(stream.get())) {
    throw std::runtime_error("cannot read " + file + ": " + std::strerror(errno));
  }
  return text;
}

int set(const CommandLine& line, Registry& registry) {
  expectOperands(line, 3, 3, "set [--dword|--hex] KEY NAME VALUE");
  const KeyName key = keyName(line.operands[0]);
  const RegValue value = parseValue(line, line.operands[2]);
  try {
    registry.set(key.root, key.path, valueName(line.operands[1]), value);
  } catch (const std::invalid_argument& e) {
    throw UsageError(e.what());
  }
  return 0;
}

int get(const CommandLine& line, const Registry& registry, std::ostream& out, std::ostream& err) {
  expectOperands(line, 2, 2, "get KEY NAME");
  const KeyName key = keyName(line.operands[0]);
  const auto value = registry.get(key.root, key.path, valueName(line.operands[1]));
  if (!value) {
    err << "k52reg: no value " << line.operands[1] << " in " << key.full << '\n';
    return 1;
  }
  out << formatValue(*value) << '\n';
  return 0;
}

int remove(const CommandLine& line, Registry& registry, std::ostream& err) {
  expectOperands(line, 1, 2, "delete KEY [NAME]");
  const KeyName key = keyName(line.operands[0]);
  if (line.operands.size() == 2) {
    if (registry.remove(key.root, key.path, valueName(line.operands[1]))) return 0;
    err << "k52reg: no value " << line.operands[1] << " in " << key.full << '\n';
    return 1;
  }
  if (key.path.empty()) throw UsageError("a root key cannot be deleted");
  if (registry.removeKey(key.root, key.path)) return 0;
  err << "k52reg: no key " << key.full << '\n';
  return 1;
}

int import(const CommandLine& line, Registry& registry, std::istream& in) {
  expectOperands(line, 1, 1, "import FILE.reg|-");
  const std::string& file = line.operands[0];
  const std::string text = readInput(file, in);
  try {
    registry.import(text);
  } catch (const win32::RegistryError& e) {
    throw win32::RegistryError("cannot import " + (file == "-" ? "<stdin>" : file) + ": " +
                               e.what());
  }
  return 0;
}

int exportKeys(const CommandLine& line, const Registry& registry, std::ostream& out,
               std::ostream& err) {
  expectOperands(line, 0, 1, "export [KEY]");
  if (line.operands.empty()) {
    // One text for both hives: the second one's header would end the import.
    out << registry.exportText(RootKey::LocalMachine, "")
        << registry.exportText(RootKey::CurrentUser, "").substr(win32::kRegTextHeader.size());
    return 0;
  }
  const KeyName key = keyName(line.operands[0]);
  if (!registry.hasKey(key.root, key.path)) {
    err << "k52reg: no key " << key.full << '\n';
    return 1;
  }
  out << registry.exportText(key.root, key.path);
  return 0;
}

}  // namespace

int runCommand(const CommandLine& line, Registry& registry, std::istream& in, std::ostream& out,
               std::ostream& err) {
  if (line.command == "set") return set(line, registry);
  if (line.command == "get") return get(line, registry, out, err);
  if (line.command == "delete") return remove(line, registry, err);
  if (line.command == "import") return import(line, registry, in);
  if (line.command == "export") return exportKeys(line, registry, out, err);
  throw UsageError("unknown command " + line.command);
}

}  // namespace k52::k52reg

#include <cstdio>

#include "platform/win32/internal/reg_file.h"

namespace k52::win32 {

namespace {

constexpr std::size_t kHexLineWidth = 76;

void appendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

// Wraps long byte lists the way registry editors do, so that files stay
// readable and diffable.
void appendHex(std::string& out, std::string_view type, const std::vector<std::uint8_t>& bytes) {
  out += type;
  std::size_t column = out.size() - (out.rfind('\n') + 1);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) {
      out += ',';
      ++column;
      if (column >= kHexLineWidth) {
        out += "\\\n  ";
        column = 2;
      }
    }
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
    out += digits;
    column += 2;
  }
}

void appendValue(std::string& out, const RegNamedValue& value) {
  if (value.name.empty()) {
    out += '@';
  } else {
    appendQuoted(out, value.name);
  }
  out += '=';
  if (const auto* text = std::get_if<std::string>(&value.value)) {
    if (text->find_first_of("\r\n") == std::string::npos) {
      appendQuoted(out, *text);
    } else {
      std::vector<std::uint8_t> bytes(text->begin(), text->end());
      bytes.push_back(0);
      appendHex(out, "hex(1):", bytes);
    }
  } else if (const auto* number = std::get_if<std::uint32_t>(&value.value)) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "dword:%08x", *number);
    out += digits;
  } else {
    appendHex(out, "hex:", std::get<std::vector<std::uint8_t>>(value.value));
  }
  out += '\n';
}

// A key with no values and subkeys still gets its line, so that empty keys
// survive; the root key only when it holds values.
void appendKey(std::string& out, const RegKey& key, const std::string& fullName, bool isRoot) {
  if (!isRoot || !key.values.empty()) {
    out += '[' + fullName + "]\n";
    for (const auto& entry : key.values) appendValue(out, entry.second);
    out += '\n';
  }
  for (const auto& entry : key.subkeys) {
    appendKey(out, entry.second, fullName + '\\' + entry.second.name, false);
  }
}

}  // namespace

std::string formatRegText(const Hive& hive, std::string_view path) {
  std::string out(kRegTextHeader);
  const auto parts = splitKeyPath(path);
  if (!parts) return out;
  const RegKey* key = &hive.top();
  std::string fullName(rootKeyName(hive.root()));
  for (const std::string_view part : *parts) {
    const auto it = key->subkeys.find(foldName(part));
    if (it == key->subkeys.end()) return out;
    key = &it->second;
    fullName += '\\' + key->name;
  }
  appendKey(out, *key, fullName, parts->empty());
  return out;
}

}  // namespace k52::win32

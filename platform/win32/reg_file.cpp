#include "platform/win32/internal/reg_file.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace k52::win32 {

namespace {

constexpr std::string_view kWhitespace = " \t";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";

std::string_view trimLeft(std::string_view s) {
  const std::size_t start = s.find_first_not_of(kWhitespace);
  return start == std::string_view::npos ? std::string_view() : s.substr(start);
}

std::string_view trimRight(std::string_view s) {
  const std::size_t end = s.find_last_not_of(kWhitespace);
  return end == std::string_view::npos ? std::string_view() : s.substr(0, end + 1);
}

std::string_view trim(std::string_view s) {
  return trimRight(trimLeft(s));
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && foldName(s.substr(0, prefix.size())) == prefix;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to `maxDigits` hex digits and nothing else.
std::optional<std::uint32_t> parseHexNumber(std::string_view s, std::size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits) return std::nullopt;
  std::uint32_t n = 0;
  for (const char c : s) {
    const int d = hexDigit(c);
    if (d < 0) return std::nullopt;
    n = n * 16 + static_cast<std::uint32_t>(d);
  }
  return n;
}

RegistryError faultAt(std::string_view source, std::size_t line, std::string_view message) {
  std::string what = source.empty() ? std::string() : std::string(source) + ": ";
  what += "line " + std::to_string(line) + ": ";
  what += message;
  return RegistryError(what);
}

class Parser {
 public:
  Parser(std::string_view text, std::string_view source) : text_(text), source_(source) {}

  std::vector<RegEdit> run() {
    if (text_.starts_with(kUtf16LeBom)) {
      lineNo_ = 1;
      fail("UTF-16 text is not supported; save the file as UTF-8");
    }
    if (text_.starts_with(kUtf8Bom)) pos_ = kUtf8Bom.size();
    const bool hasLine = nextLine();
    const std::string_view header = trimRight(line_);
    if (!hasLine || (header != "REGEDIT4" && header != "Windows Registry Editor Version 5.00")) {
      lineNo_ = 1;
      fail("not a registry file: the first line must be REGEDIT4");
    }
    while (nextLine()) {
      const std::string_view entry = trim(line_);
      if (entry.empty() || entry.front() == ';') continue;
      if (entry.front() == '[') {
        keyLine(entry);
      } else if (entry.front() == '"' || entry.front() == '@') {
        valueLine(entry);
      } else {
        fail("expected a [KEY] line, a value or a ;comment");
      }
    }
    return std::move(edits_);
  }

 private:
  bool nextLine() {
    if (pos_ >= text_.size()) return false;
    const std::size_t end = std::min(text_.find('\n', pos_), text_.size());
    line_ = text_.substr(pos_, end - pos_);
    if (line_.ends_with('\r')) line_.remove_suffix(1);
    pos_ = end + 1;
    ++lineNo_;
    return true;
  }

  // An edit of the entry on the current line.
  RegEdit editHere(RegEdit::Kind kind, RootKey root, std::string key) const {
    RegEdit edit;
    edit.kind = kind;
    edit.root = root;
    edit.key = std::move(key);
    edit.line = lineNo_;
    return edit;
  }

  [[noreturn]] void fail(std::string_view message) const {
    throw faultAt(source_, lineNo_, message);
  }

  void keyLine(std::string_view entry) {
    if (!entry.ends_with(']')) fail("a key line must end with ]");
    std::string_view fullName = entry.substr(1, entry.size() - 2);
    const bool deleting = fullName.starts_with('-');
    if (deleting) fullName.remove_prefix(1);
    auto split = Registry::splitKeyName(fullName);
    if (!split) {
      fail("[" + std::string(fullName) +
           "] does not name a key below HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER");
    }
    auto& [root, path] = *split;
    if (!splitKeyPath(path)) fail("invalid key name [" + std::string(fullName) + "]");
    if (deleting && path.empty()) fail("a root key cannot be deleted");
    edits_.push_back(
        editHere(deleting ? RegEdit::Kind::DeleteKey : RegEdit::Kind::CreateKey, root, path));
    // Values after [-KEY] would belong to a key that is gone.
    currentKey_ = deleting ? std::nullopt : std::optional(std::move(*split));
  }

  void valueLine(std::string_view entry) {
    std::string name;
    if (entry.front() == '@') {
      entry.remove_prefix(1);
    } else {
      name = quoted(entry);
      if (!isValidValueName(name)) fail("value names cannot hold NUL");
    }
    entry = trimLeft(entry);
    if (!entry.starts_with('=')) fail("expected = after the value name");
    entry = trimLeft(entry.substr(1));
    if (!currentKey_) fail("a value must follow a [KEY] line");

    RegEdit edit = editHere(RegEdit::Kind::SetValue, currentKey_->first, currentKey_->second);
    edit.name = std::move(name);
    if (entry == "-") {
      edit.kind = RegEdit::Kind::DeleteValue;
    } else if (entry.starts_with('"')) {
      std::string text = quoted(entry);
      if (!entry.empty()) fail("unexpected text after the closing quote");
      if (!isValidString(text)) fail("strings cannot hold NUL");
      edit.value = std::move(text);
    } else if (startsWithNoCase(entry, "dword:")) {
      const auto number = parseHexNumber(entry.substr(6), 8);
      if (!number) fail("dword: needs 1 to 8 hex digits");
      edit.value = *number;
    } else if (startsWithNoCase(entry, "hex")) {
      edit.value = hexValue(entry.substr(3));
    } else {
      fail("unknown value type; expected \"text\", dword:, hex: or -");
    }
    edits_.push_back(std::move(edit));
  }

  // Reads a "..." string at the front of `s` and advances past it.
  std::string quoted(std::string_view& s) {
    std::string out;
    for (std::size_t i = 1; i < s.size(); ++i) {
      if (s[i] == '"') {
        s.remove_prefix(i + 1);
        return out;
      }
      if (s[i] == '\\') {
        if (++i == s.size()) break;
        if (s[i] != '\\' && s[i] != '"') fail("unknown escape in string; only \\\\ and \\\" exist");
      }
      out += s[i];
    }
    fail("unterminated string");
  }

  // `rest` follows "hex": ":" or "(type):", then bytes, perhaps continued
  // over several lines by a trailing backslash.
  RegValue hexValue(std::string_view rest) {
    std::optional<std::uint32_t> type = 3;
    if (rest.starts_with('(')) {
      const std::size_t close = rest.find(')');
      if (close == std::string_view::npos) fail("hex( needs a closing )");
      type = parseHexNumber(rest.substr(1, close - 1), 8);
      rest.remove_prefix(close + 1);
    }
    if (!rest.starts_with(':')) fail("expected : after hex");
    if (!type || (*type != 1 && *type != 3)) {
      fail("unsupported value type; only strings, dword: and hex: are stored");
    }
    std::string data(trimRight(rest.substr(1)));
    while (data.ends_with('\\')) {
      data.pop_back();
      if (!nextLine()) fail("hex data continues past the end of the text");
      data += trim(line_);
    }
    auto bytes = parseHexList(data);
    if (!bytes) fail("malformed hex data; expected bytes like 01,a2,ff");
    if (*type == 3) return std::move(*bytes);
    // hex(1): the bytes of a string and its terminating NUL.
    if (!bytes->empty() && bytes->back() == 0) bytes->pop_back();
    std::string text(bytes->begin(), bytes->end());
    if (!isValidString(text)) fail("strings cannot hold NUL");
    return text;
  }

  std::string_view text_;
  std::string_view source_;
  std::size_t pos_ = 0;
  std::string_view line_;
  std::size_t lineNo_ = 0;
  std::optional<std::pair<RootKey, std::string>> currentKey_;
  std::vector<RegEdit> edits_;
};

}  // namespace

std::vector<RegEdit> parseRegText(std::string_view text, std::string_view source) {
  return Parser(text, source).run();
}

bool applyEdit(Hive& hive, const RegEdit& edit) {
  switch (edit.kind) {
    case RegEdit::Kind::CreateKey:
      return hive.createKey(edit.key);
    case RegEdit::Kind::DeleteKey:
      return hive.removeKey(edit.key);
    case RegEdit::Kind::SetValue:
      return hive.setValue(edit.key, edit.name, edit.value);
    case RegEdit::Kind::DeleteValue:
      return hive.removeValue(edit.key, edit.name);
  }
  return false;
}

Hive parseHive(std::string_view text, RootKey root, std::string_view source) {
  Hive hive(root);
  for (const RegEdit& edit : parseRegText(text, source)) {
    if (edit.root != root) {
      throw faultAt(
          source, edit.line,
          "a key below " + std::string(rootKeyName(edit.root)) + " does not belong in this hive");
    }
    applyEdit(hive, edit);
  }
  return hive;
}

std::optional<std::vector<std::uint8_t>> parseHexList(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  if (trim(text).empty()) return bytes;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const auto byte = parseHexNumber(trim(text.substr(start, comma - start)), 2);
    if (!byte) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(*byte));
    if (comma == std::string_view::npos) return bytes;
    start = comma + 1;
  }
}

}  // namespace k52::win32

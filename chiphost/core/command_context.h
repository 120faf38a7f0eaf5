// One command on its way through the interpreter: the remaining command text,
// the data block and the reply being written.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace k52::chiphost {

inline constexpr std::size_t kCommandLineMax = 250;
inline constexpr std::size_t kDataBlockSize = 32768;

class CommandContext {
 public:
  // Cuts the line to 250 bytes, upper-cases it and trims its blanks.
  CommandContext(std::string_view line, std::span<const std::uint8_t> data);

  const std::string& remaining() const { return remaining_; }
  bool done() const { return remaining_.empty(); }

  // True and the word and the separators behind it consumed when the text
  // begins with `word` (any case) followed by a separator or the end.
  bool keyword(std::string_view word);

  // The next word with one leading and one trailing quote taken off; nullopt
  // when no text remains.
  std::optional<std::string> argument();
  // The next word as a decimal number; nullopt when absent or not a number.
  std::optional<std::int32_t> decimalArgument();

  std::span<const std::uint8_t> data() const { return data_; }

  void append(std::string_view text);
  void append(std::span<const std::uint8_t> bytes);
  void clearReply() { reply_.clear(); }
  const std::vector<std::uint8_t>& reply() const { return reply_; }
  std::vector<std::uint8_t> takeReply() { return std::move(reply_); }

 private:
  void dropSeparators();

  std::string remaining_;
  std::span<const std::uint8_t> data_;
  std::vector<std::uint8_t> reply_;
};

// The reply of a query method: every property with a value as a line
// "Name=Value", or, when the remaining text begins with a property's name,
// that property's bare value (of several such names, the last one listed).
class PropertyReply {
 public:
  explicit PropertyReply(CommandContext& ctx) : ctx_(ctx) {}

  void text(std::string_view name, std::string_view value);
  void bytes(std::string_view name, std::span<const std::uint8_t> value);

  // Writes the reply into the context.
  void finish();

 private:
  bool named(std::string_view name) const;
  void line(std::string_view name, std::string_view value);

  CommandContext& ctx_;
  std::string listing_;
  std::optional<std::vector<std::uint8_t>> single_;
};

}  // namespace k52::chiphost

#include "chiphost/core/command_context.h"

#include "chiphost/core/text_rules.h"

namespace k52::chiphost {
namespace {

bool isQuote(char c) {
  return c == '"' || c == '\'';
}

}  // namespace

CommandContext::CommandContext(std::string_view line, std::span<const std::uint8_t> data)
    : remaining_(trimBlanks(ansiUpper(line.substr(0, kCommandLineMax)))),
      data_(data.first(std::min(data.size(), kDataBlockSize))) {}

void CommandContext::dropSeparators() {
  std::size_t n = 0;
  while (n < remaining_.size() && isSeparator(remaining_[n])) ++n;
  remaining_.erase(0, n);
}

bool CommandContext::keyword(std::string_view word) {
  const std::string upper = ansiUpper(word);
  if (!remaining_.starts_with(upper)) return false;
  if (remaining_.size() > upper.size() && !isSeparator(remaining_[upper.size()])) return false;
  remaining_.erase(0, upper.size());
  dropSeparators();
  return true;
}

std::optional<std::string> CommandContext::argument() {
  if (remaining_.empty()) return std::nullopt;
  std::size_t end = 0;
  while (end < remaining_.size() && !isSeparator(remaining_[end])) ++end;
  std::string_view word(remaining_.data(), end);
  if (!word.empty() && isQuote(word.front())) word.remove_prefix(1);
  if (!word.empty() && isQuote(word.back())) word.remove_suffix(1);
  std::string arg(word);
  remaining_.erase(0, end);
  dropSeparators();
  return arg;
}

std::optional<std::int32_t> CommandContext::decimalArgument() {
  const auto arg = argument();
  return arg ? parseDecimal(*arg) : std::nullopt;
}

void CommandContext::append(std::string_view text) {
  append(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void CommandContext::append(std::span<const std::uint8_t> bytes) {
  // The reply shares the client's data block; what does not fit is dropped.
  const std::size_t room = kDataBlockSize - reply_.size();
  reply_.insert(reply_.end(), bytes.begin(), bytes.begin() + std::min(room, bytes.size()));
}

bool PropertyReply::named(std::string_view name) const {
  return ctx_.remaining().starts_with(ansiUpper(name));
}

void PropertyReply::line(std::string_view name, std::string_view value) {
  if (value.empty()) return;
  listing_.append(name);
  listing_.push_back('=');
  listing_.append(value);
  listing_.append("\r\n");
}

void PropertyReply::text(std::string_view name, std::string_view value) {
  line(name, value);
  if (named(name)) single_.emplace(value.begin(), value.end());
}

void PropertyReply::bytes(std::string_view name, std::span<const std::uint8_t> value) {
  line(name, hexByteText(value));
  if (named(name)) single_.emplace(value.begin(), value.end());
}

void PropertyReply::finish() {
  if (single_) {
    ctx_.append(*single_);
  } else {
    ctx_.append(listing_);
  }
}

}  // namespace k52::chiphost

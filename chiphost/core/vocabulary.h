// The table that describes the command language, and the System method
// Comands that walks it.
#pragma once

#include <array>
#include <string_view>

namespace k52::chiphost {

class CommandContext;

// 194 entries: words, "word*Section" (a word whose properties or methods are
// listed under "*Section"), section headers "*Section", and "*" at the end.
extern const std::array<std::string_view, 194> kVocabulary;

// Comands [section [, entry ...]]: the words of the addressed section, one
// per line.
void comands(CommandContext& ctx);

}  // namespace k52::chiphost

// Splitting a Windows command line into words and finding the program it
// names.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/prefix.h"

namespace k52::win32 {

// Words separated by blanks and tabs; double quotes group blanks into a word
// and are dropped.
std::vector<std::string> splitCommandLine(std::string_view commandLine);

// The executable a program name stands for (search rule at WinExec, user.h).
std::optional<std::filesystem::path> findProgram(std::string_view name, const Prefix& prefix);

}  // namespace k52::win32

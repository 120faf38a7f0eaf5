// What chipctl does with its parsed command line.
#pragma once

#include <cstdio>

#include "chiphost/chipctl/command_line.h"
#include "chiphost/client/client.h"

namespace k52::chiphost::chipctl {

// The message number chipctl registers its window for (System,AddHWndMsg).
inline constexpr win32::UINT kNotificationMessage = 0x7E00;

// Runs the commands through `client` and prints to `out` (replies,
// notification codes) and `err` (failures). The exit status.
int run(const Options& options, Client& client, std::FILE* out, std::FILE* err);

}  // namespace k52::chiphost::chipctl

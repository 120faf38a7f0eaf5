// balview --text: the window's work for a terminal or a script.
#pragma once

#include <ostream>

#include "tools/purse/ctapi_binding.h"

namespace k52::balview {

// Runs the Test button's steps once and prints the balance or the message.
// Returns the exit status: 0 for a balance, 1 otherwise.
int printBalance(CtApiBinding& ct, std::ostream& out);

// Prints the version dialog's three fields, one "label: text" line each.
// Returns 0 when the terminal answered the version query, 1 otherwise.
int printVersionInfo(CtApiBinding& ct, std::ostream& out);

}  // namespace k52::balview

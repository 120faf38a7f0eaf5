// Runs readerctl's steps on a reader, as the card server would: one card
// object for the port and slot, the driver channel started at the beginning,
// a window that receives the driver's 2023, and the card's side of the
// driver channel (its baud callback, the twin slot's card).
#pragma once

#include <ostream>

#include "chiphost/core/error_texts.h"
#include "tools/readerctl/steps.h"

namespace k52::readerctl {

// 0 when every step succeeded, 1 otherwise.
int runSteps(const Invocation& invocation, const chiphost::ErrorTexts& texts, std::ostream& out);

// A version byte as the reader's firmware level: 0x42 is "4.2".
std::string versionText(std::uint8_t version);

}  // namespace k52::readerctl

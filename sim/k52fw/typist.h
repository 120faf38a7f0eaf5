// A person at the keypad: keys pressed one after the other.
#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include "sim/k52fw/keypad.h"
#include "sim/kbd8042/timeline.h"

namespace k52::sim {

inline constexpr std::chrono::milliseconds kKeyGap{200};

// Hands `keys` to `press` on the timeline, the first kKeyGap from now and
// then one every kKeyGap.
void typeKeys(Timeline& timeline, const std::vector<KeypadKey>& keys,
              const std::function<void(KeypadKey)>& press);

}  // namespace k52::sim

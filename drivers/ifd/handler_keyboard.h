// Where the handler's reader finds the keyboard: by default the simulator
// of the prefix (simulatorKeyboard()). A test that runs the keyboard in its
// own process sets another source before the channel is created.
#pragma once

#include "drivers/ifd/keyboard_link.h"

namespace k52::ifd {

void setHandlerKeyboard(KeyboardSource source);

}  // namespace k52::ifd

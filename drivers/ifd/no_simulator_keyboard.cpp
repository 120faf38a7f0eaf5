#include "drivers/ifd/keyboard_link.h"

namespace k52::ifd {

// This build has no link to a keyboard simulator: only serial terminals.
KeyboardSource simulatorKeyboard() {
  return {};
}

}  // namespace k52::ifd

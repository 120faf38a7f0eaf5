// The K52 keyboard as the reader host sees it: the keyboard controller's
// ports (the interrupt controller's mask at 0x21, the controller at 0x60 to
// 0x64) and its interrupt line IRQ1. In service the keyboard runs in the
// simulator process of the prefix and a socket carries the port accesses
// and the interrupts; tests may wire one in-process instead.
#pragma once

#include <functional>
#include <memory>

#include "platform/nt/hal.h"
#include "platform/nt/scheduler.h"
#include "platform/win32/prefix.h"

namespace k52::ifd {

class KeyboardLink : public nt::PortDevice {
 public:
  // `isr` runs whenever the keyboard raises IRQ1, on any thread; null
  // disconnects it.
  virtual void onIrq1(std::function<void()> isr) = 0;
};

// Connects the keyboard of a prefix, its models running on `scheduler` if
// they live in this process. Null when there is no keyboard: the reader
// then finds no keyboard terminal.
using KeyboardSource =
    std::function<std::unique_ptr<KeyboardLink>(const win32::Prefix&, nt::Scheduler&)>;

// The keyboard of the prefix's simulator, when one serves the prefix.
KeyboardSource simulatorKeyboard();

}  // namespace k52::ifd

// The keyboard input record the keyboard class and port drivers pass up in
// IRP_MJ_READ buffers.
#pragma once

#include "platform/nt/types.h"

namespace k52::nt {

inline constexpr USHORT KEY_MAKE = 0;
inline constexpr USHORT KEY_BREAK = 1;
inline constexpr USHORT KEY_E0 = 2;
inline constexpr USHORT KEY_E1 = 4;

struct KEYBOARD_INPUT_DATA {
  USHORT UnitId;
  USHORT MakeCode;  // scan code set 1, without the break bit
  USHORT Flags;     // KEY_MAKE or KEY_BREAK, with KEY_E0 / KEY_E1
  USHORT Reserved;
  ULONG ExtraInformation;
};
using PKEYBOARD_INPUT_DATA = KEYBOARD_INPUT_DATA*;

static_assert(sizeof(KEYBOARD_INPUT_DATA) == 12, "the record layout drivers exchange");

}  // namespace k52::nt

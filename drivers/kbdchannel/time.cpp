// The driver's millisecond clock, its busy-wait, and the LED hold timer.
#include "drivers/kbdchannel/channel.h"

namespace k52::kbdchannel {

ULONG GetTickCount(ChannelExtension* ext) {
  LARGE_INTEGER ticks;
  KeQueryTickCount(&ticks);
  return static_cast<ULONG>(static_cast<unsigned long long>(ticks.QuadPart) * ext->timeIncrement /
                            10'000);
}

void wait_ms(ChannelExtension* ext, ULONG ms) {
  const ULONG start = GetTickCount(ext);
  while (GetTickCount(ext) - start < ms) {
  }
}

void armLedHold(ChannelExtension* ext, ULONG ms) {
  ext->sendHold = 1;
  LARGE_INTEGER due;
  due.QuadPart = -static_cast<LONGLONG>(ms) * 10'000;  // relative, in 100 ns
  KeSetTimer(&ext->ledTimer, due, &ext->ledTimerDpc);
}

void LEDTimerCallBack(PKDPC, PVOID context, PVOID, PVOID) {
  static_cast<ChannelExtension*>(context)->sendHold = 0;
}

}  // namespace k52::kbdchannel

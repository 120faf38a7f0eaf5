// The driver's clock, its sleeps, and its trace points, which print nothing
// but still take their time.
#include "drivers/reader/reader.h"

namespace k52::varnel {

void XDS() {
  KeStallExecutionProcessor(1000);
}

void DumpData(const UCHAR*, ULONG length) {
  const ULONG shown = length < 10 ? length : 10;
  for (ULONG i = 0; i < shown; ++i) {
    XDS();
    if ((i + 1) % 8 == 0) XDS();
    if ((i + 1) % 16 == 0) XDS();
  }
  XDS();
}

ULONG GetTickCount(READER_EXTENSION* r) {
  LARGE_INTEGER ticks;
  KeQueryTickCount(&ticks);
  return static_cast<ULONG>(static_cast<unsigned long long>(ticks.QuadPart) *
                            r->timeIncrement100ns / 10'000);
}

void WaitX(ULONG ms) {
  LARGE_INTEGER interval100ns;
  interval100ns.QuadPart = -static_cast<LONGLONG>(ms) * 10'000;
  KeDelayExecutionThread(KernelMode, FALSE, &interval100ns);
}

}  // namespace k52::varnel

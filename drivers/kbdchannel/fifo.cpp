// The FIFO of received bytes: one producer (the read filter, at dispatch
// level) and one consumer (the FIFO requests, in the client's thread); every
// access holds the FIFO lock so their index updates never interleave.
#include "drivers/kbdchannel/channel.h"

namespace k52::kbdchannel {
namespace {

USHORT advance(USHORT index) {
  return index + 1 == kFifoSize ? 0 : index + 1;
}

class FifoLock {
 public:
  explicit FifoLock(ChannelExtension* ext) : ext_(ext) {
    KeAcquireSpinLock(&ext_->fifoLock, &irql_);
  }
  ~FifoLock() { KeReleaseSpinLock(&ext_->fifoLock, irql_); }

 private:
  ChannelExtension* ext_;
  KIRQL irql_;
};

}  // namespace

NTSTATUS Fifin(ChannelExtension* ext, USHORT value, UCHAR port, UCHAR kind, ULONG time) {
  FifoLock lock(ext);
  if (ext->fifoCount >= kFifoSize) return STATUS_SUCCESS;  // full: the byte is dropped
  ext->fifo[ext->fifoIn] = {value, port, kind, time};
  ext->fifoIn = advance(ext->fifoIn);
  ++ext->fifoCount;
  return STATUS_SUCCESS;
}

NTSTATUS Fifout(ChannelExtension* ext, FifoEntry* entry) {
  FifoLock lock(ext);
  if (ext->fifoCount == 0) return STATUS_UNSUCCESSFUL;
  *entry = ext->fifo[ext->fifoOut];
  ext->fifoOut = advance(ext->fifoOut);
  --ext->fifoCount;
  return STATUS_SUCCESS;
}

NTSTATUS Fifcheck(ChannelExtension* ext, FifoEntry* entry) {
  FifoLock lock(ext);
  if (ext->fifoCount != 0) *entry = ext->fifo[ext->fifoOut];
  return STATUS_SUCCESS;
}

void ClearFifo(ChannelExtension* ext) {
  FifoLock lock(ext);
  ext->fifo.fill({});
  ext->fifoIn = ext->fifoOut = ext->fifoCount = 0;
}

USHORT GetFifoCount(ChannelExtension* ext) {
  FifoLock lock(ext);
  return ext->fifoCount;
}

}  // namespace k52::kbdchannel

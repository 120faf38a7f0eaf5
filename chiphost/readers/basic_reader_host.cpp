#include "chiphost/readers/basic_reader_host.h"

#include "platform/win32/messaging/user.h"

namespace k52::chiphost {

void BasicReaderHost::idle(bool portWait) {
  ++idleCalls_;
  if (portWait) ++portWaits_;
  win32::MSG msg;
  while (win32::PeekMessageA(&msg, 0, 0, 0, win32::PM_REMOVE)) win32::DispatchMessageA(&msg);
}

void BasicReaderHost::notifyAll(std::uint16_t code, std::uint16_t value) {
  if (notify_) notify_(code, value);
}

ReaderAttachment& BasicReaderHost::cardOfSlot(int port, int slot) {
  auto& card = slots_[{port, slot}];
  if (!card) card = std::make_unique<ReaderAttachment>(*this, port, slot);
  return *card;
}

}  // namespace k52::chiphost

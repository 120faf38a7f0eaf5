// What the reader layer needs of the server core around it, in one place:
// the idle event (a message pump), the attach and transfer counters, the
// progress notification 301, the busy indicator of the driver channel, the
// poll request and the twin slot's card. The server implements it; tools
// and tests use BasicReaderHost (basic_reader_host.h).
#pragma once

#include <cstdint>

namespace k52::chiphost {

class ReaderAttachment;

class ReaderHost {
 public:
  virtual ~ReaderHost() = default;

  // Pumps pending window messages. `portWait` when a serial-port wait calls
  // it: the server then raises its nesting counter for the pump and starts
  // no job and no polling pass inside it.
  virtual void idle(bool portWait) = 0;

  // An attach runs between these: the periodic card poll skips its turn.
  virtual void attachStarted() = 0;
  virtual void attachEnded() = 0;
  // A frame or a card transfer goes to a reader.
  virtual void transferStarted() = 0;

  // A notification (301: progress of a reader search) to all clients.
  virtual void notifyAll(std::uint16_t code, std::uint16_t value) = 0;
  // The busy indicator while a driver-channel transfer runs.
  virtual void showBusy(bool shown) = 0;
  // A status read of the reader answers the server's poll request.
  virtual void clearPollRequest() = 0;

  // The card object of slot `slot` of COM port `port`, made when there is
  // none; it shares this host.
  virtual ReaderAttachment& cardOfSlot(int port, int slot) = 0;
};

}  // namespace k52::chiphost

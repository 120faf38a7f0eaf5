// A serial line on a Linux tty (a serial device or the slave side of a pty),
// set up with termios in raw mode: no echo, no line editing, no character
// translation, the receiver enabled and modem control lines ignored.
//
// open() opens the path and starts a reader thread that hands what arrives
// to the receiver through the scheduler's interrupt(); close() ends the
// thread and closes the path. A real thread feeds the port, so this line
// belongs on the RealScheduler.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/nt/scheduler.h"
#include "platform/nt/serial/serial_line.h"

namespace k52::nt::serial {

class TtyLine final : public SerialLine {
 public:
  TtyLine(Scheduler& scheduler, std::string path);
  ~TtyLine() override;
  TtyLine(const TtyLine&) = delete;
  TtyLine& operator=(const TtyLine&) = delete;

  const std::string& path() const { return path_; }

  // False when the path cannot be opened or set up.
  bool open(Receiver receiver) override;
  void close() override;
  // Any frame; the baud rates termios knows, from 50 to 4000000.
  bool configure(const LineSettings& settings) override;
  // Writes into the tty's output queue; waits only while that is full.
  void transmit(std::span<const std::uint8_t> bytes) override;
  void abortTransmit() override;
  void discardReceived() override;

 private:
  // Call with mutex_ held.
  bool applySettings(int fd, const LineSettings& settings);
  void readLoop(int fd, int stopFd, std::shared_ptr<ReceiverSlot> receiver);

  Scheduler& scheduler_;
  const std::string path_;
  std::mutex mutex_;  // fd_, settings_
  int fd_ = -1;
  int stopFd_ = -1;
  LineSettings settings_;
  std::shared_ptr<ReceiverSlot> receiver_;
  std::thread reader_;
};

}  // namespace k52::nt::serial

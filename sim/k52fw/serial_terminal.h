// The K52 firmware on a serial line: the far end of a pseudo terminal. The
// host opens the slave side like a serial port (9600 baud, 8E2, which a
// pty carries as settings only) and sends the link's frames; this side
// configures nothing and answers each frame through the firmware. Real
// time drives the firmware's timeline.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/k52fw/frame_reader.h"
#include "sim/k52fw/k52_firmware.h"
#include "sim/kbd8042/queue_timeline.h"

namespace k52::sim {

class SerialTerminal {
 public:
  // A partial frame is dropped when the line stays quiet this long.
  static constexpr std::chrono::milliseconds kFrameGap{500};

  // Opens the pty; throws std::system_error when it cannot.
  SerialTerminal(K52Firmware& firmware, QueueTimeline& timeline);
  ~SerialTerminal();
  SerialTerminal(const SerialTerminal&) = delete;
  SerialTerminal& operator=(const SerialTerminal&) = delete;

  // The path a host opens, such as /dev/pts/7.
  const std::string& slavePath() const { return slavePath_; }

  // Waits up to `wait` for bytes from the host, answers the frames they
  // complete and moves the timeline on to the present.
  void serveOnce(std::chrono::milliseconds wait);

 private:
  void receive(std::uint8_t byte);
  void send(const std::vector<std::uint8_t>& answer);
  void catchUp();

  K52Firmware& firmware_;
  QueueTimeline& timeline_;
  int master_ = -1;
  // Held open so the master does not hang up between two hosts.
  int slave_ = -1;
  std::string slavePath_;
  FrameReader reader_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastByte_ = start_;
};

}  // namespace k52::sim

// An FNX reader on the master side of a pty: the host's program opens the
// slave as its COM port. The pty carries no parity, break or modem lines, so
// the host's speed is read from the master's termios before each read (a
// character at a rate or with stop bits the firmware does not expect
// arrives garbled, as do answers the host could not read), the host's
// switch to 9600 stands for the break that would send the reader there, and
// a card coming or going is signalled by one unsolicited byte.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "sim/fnx/fnx_firmware.h"

namespace k52::sim {

inline constexpr std::uint8_t kChangeSignalByte = 0xFF;

class FnxPtyServer {
 public:
  // Opens the pty; with `link`, a symbolic link there names its slave (an
  // existing link is replaced). Throws std::runtime_error on failure.
  FnxPtyServer(FnxConfig config, std::optional<std::string> link);
  ~FnxPtyServer();
  FnxPtyServer(const FnxPtyServer&) = delete;
  FnxPtyServer& operator=(const FnxPtyServer&) = delete;

  const std::string& slavePath() const { return slavePath_; }
  int fd() const { return master_; }
  FnxFirmware& firmware() { return firmware_; }
  // The host's rate as last seen.
  std::uint32_t hostBaud() const { return hostBaud_; }

  // Handles what the host sent (waiting up to `wait` for it).
  void serveOnce(std::chrono::milliseconds wait);

 private:
  bool hostMatches() const;
  void send(std::span<const std::uint8_t> bytes);

  int master_ = -1;
  int slaveKeeper_ = -1;  // keeps the master readable while no host is there
  std::string slavePath_;
  std::optional<std::string> link_;
  FnxFirmware firmware_;
  std::uint32_t hostBaud_ = 9600;
  bool hostTwoStopBits_ = false;
};

}  // namespace k52::sim

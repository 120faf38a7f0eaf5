// The PC side of the port link: the K52 keyboard's ports (0x21, 0x60..0x64)
// served by the keyboard process (k52sim) over a Unix socket of the prefix,
// so that the keyboard keeps running while the process hosting the drivers
// comes and goes. Map it on the I/O bus like the in-process wiring.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/nt/hal.h"
#include "platform/nt/port_link/port_wire.h"
#include "platform/win32/messaging/unix_socket.h"
#include "platform/win32/prefix.h"

namespace k52::nt {

// Where the keyboard hardware of a prefix is served: <prefix root>/run/k52sim.sock
std::filesystem::path keyboardSocketPath(const win32::Prefix& prefix);

class PortLink final : public PortDevice {
 public:
  // How long a read waits for its value before it reads a floating bus.
  static constexpr std::chrono::milliseconds kReadTimeout{1000};
  // How long connect() waits for the keyboard's hello.
  static constexpr std::chrono::milliseconds kHelloTimeout{2000};

  // Connects; throws std::runtime_error naming the path when nothing serves
  // it, or when the keyboard there already serves another PC.
  static std::unique_ptr<PortLink> connect(const std::filesystem::path& socketPath);
  // Closes the socket and joins the link's thread; no callback runs after it
  // returns.
  ~PortLink() override;
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;

  // A round trip to the keyboard; 0xFF (a floating bus) once it has gone or
  // when it does not answer within kReadTimeout.
  std::uint8_t readPort(std::uint16_t port) override;
  // One-way; dropped once the keyboard has gone.
  void writePort(std::uint16_t port, std::uint8_t value) override;
  // `isr` runs on the link's own thread for every IRQ1 the keyboard raises;
  // set it before traffic starts.
  void onIrq1(std::function<void()> isr);
  // False once the keyboard has gone.
  bool connected() const;

 private:
  explicit PortLink(win32::Fd socket);
  void receive();
  bool send(const portwire::Record& record);

  win32::Fd socket_;
  std::mutex accessMutex_;  // one port access at a time

  mutable std::mutex stateMutex_;
  std::condition_variable answered_;
  bool connected_ = true;
  std::uint32_t awaited_ = 0;  // sequence of the read in flight
  std::optional<std::uint8_t> value_;
  std::function<void()> isr_;

  std::thread thread_;
};

}  // namespace k52::nt

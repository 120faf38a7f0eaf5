// k52sim's side of the port link: serves a KeyboardUnit's ports to one PC at
// a time on a Unix socket, and control requests from other processes on the
// same socket (platform/nt/port_link/port_wire.h has the bytes). The PC may
// go and come back; the keyboard keeps running meanwhile, and an IRQ1
// raised while no PC is attached is not delivered.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/nt/port_link/port_wire.h"
#include "platform/win32/messaging/unix_socket.h"
#include "sim/k52sim/keyboard_unit.h"

namespace k52::sim {

class KeyboardServer {
 public:
  // Binds and listens at `socketPath`, creating its directory. A socket file
  // nobody serves (left by a killed instance) is replaced. Throws
  // std::runtime_error when a live instance serves the path or it cannot be
  // bound.
  KeyboardServer(KeyboardUnit& unit, std::filesystem::path socketPath);
  // Closes every connection and removes the socket file.
  ~KeyboardServer();
  KeyboardServer(const KeyboardServer&) = delete;
  KeyboardServer& operator=(const KeyboardServer&) = delete;

  // Waits for traffic up to `wait`, or less when the keyboard has something
  // due sooner, handles it and runs the keyboard up to the present.
  void serveOnce(std::chrono::milliseconds wait);

  bool pcConnected() const { return pc_ && !pc_->closing; }

 private:
  struct Connection {
    enum class State { kHello, kPc, kControl };
    win32::Fd socket;
    State state = State::kHello;
    std::vector<std::uint8_t> input;
    bool closing = false;
  };

  void accept();
  void receive(Connection& connection);
  void handleHello(Connection& connection);
  void handlePc(Connection& connection);
  void handleControl(Connection& connection);
  void send(Connection& connection, const nt::portwire::Record& record);
  void reply(Connection& connection, bool ok, const std::string& text);
  void irq1();

  KeyboardUnit& unit_;
  std::filesystem::path path_;
  win32::Fd listener_;
  std::vector<std::unique_ptr<Connection>> connections_;
  Connection* pc_ = nullptr;
};

}  // namespace k52::sim

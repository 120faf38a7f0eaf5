// A pcscd of the test's own, never the system's: private socket, private run
// directory, and one vpcd reader line whose two slots listen on free ports,
// and/or a reader line of our IFD handler (libifd-varnel.so) for a prefix.
//
// When this build is sanitized, the daemon (which is not) gets the
// sanitizer runtimes preloaded, so that it can load our handler. Leak
// detection stays on: pcscd 1.9.9 leaves nothing behind at its exit, so a
// report in its log is the handler's.
//
// The pcsc-lite client library reads PCSCLITE_CSOCK_NAME once per process,
// at its first call. So every PrivatePcscd of a process uses the same socket
// path (and sets the variable), and only one may exist at a time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace k52::testing {

// The reader line of our IFD handler.
struct HandlerReader {
  std::filesystem::path library;  // libifd-varnel.so
  std::filesystem::path prefix;   // its DEVICENAME
  std::string friendlyName = "K52 Varnel";
};

struct PrivatePcscdOptions {
  bool vpcd = true;
  std::optional<HandlerReader> handler;
  // For the readers to be listed; the handler's reader starts its drivers
  // and the terminal first.
  std::chrono::milliseconds timeout = std::chrono::seconds(30);
};

class PrivatePcscd {
 public:
  // Starts the daemon and waits until its readers are listed. Throws
  // std::runtime_error, with the daemon's output, if that takes longer than
  // the time-out, and std::logic_error if another instance is alive.
  explicit PrivatePcscd(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  explicit PrivatePcscd(PrivatePcscdOptions options);
  ~PrivatePcscd();

  PrivatePcscd(const PrivatePcscd&) = delete;
  PrivatePcscd& operator=(const PrivatePcscd&) = delete;

  // SIGTERM, SIGKILL if it is still there after a few seconds (more with
  // the handler, whose drivers take seconds to unload), then removes the
  // files. Called by the destructor; harmless twice.
  void stop();

  // Whether the daemon process is still alive.
  bool running();

  const std::string& socketPath() const { return socketPath_; }
  // The TCP port a simulated card connects to for reader slot 0 or 1.
  std::uint16_t vpcdPort(int slot = 0) const;
  // The PC/SC reader name of that slot.
  std::string readerName(int slot = 0) const;
  // The PC/SC reader name of the handler's reader.
  std::string handlerReaderName() const;
  pid_t pid() const { return pid_; }
  // Waits until the daemon reports a card in `reader` (`present`) or an
  // empty slot, as a client sees it: a card a simulator saw powered may not
  // be one the daemon has announced yet. Returns the last state mask it
  // reported (SCARD_STATE_*), 0 when it could not be asked.
  unsigned long waitForCard(const std::string& reader, bool present,
                            std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  // Everything the daemon printed so far.
  std::string log() const;

 private:
  void start();
  void waitUntilListed(std::chrono::milliseconds timeout);
  std::vector<std::string> environment() const;

  PrivatePcscdOptions options_;
  std::filesystem::path dir_;
  std::string socketPath_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
  bool active_ = false;  // this object holds the one-per-process slot
};

}  // namespace k52::testing

// The card server: its endpoint, sessions, the job handler around the command
// interpreter, the message loop with its timers, the polling pass and the
// idle exit. One per process; everything runs on the thread that calls run().
//
// Readers: the reader list is empty for now. The polling pass, the reader
// choice of the notifications and the exit keep their places for the reader
// state update, the removal of readers marked by Remove and the saving of the
// stored list; see the comments there. The busy cursor is shown by the
// serial ports' driver channel during its transfers.
#pragma once

#include <cstdint>
#include <string>

#include "chiphost/channel/wmc.h"
#include "chiphost/core/environment.h"
#include "chiphost/core/interpreter.h"
#include "chiphost/server/busy_cursor.h"
#include "chiphost/server/session_list.h"

namespace k52::chiphost {

struct ServerOptions {
  // Seconds without a client window before the server ends; 0: never.
  std::int32_t idleLimit = 0;
  // A client window that gets 0x610 once the server is up; 0: none.
  win32::HWND launcher = 0;
};

inline constexpr win32::UINT_PTR kIdleTimer = 1;
inline constexpr win32::UINT_PTR kPollTimer = 2;
inline constexpr win32::UINT kIdleTimerMs = 1000;
inline constexpr win32::UINT kPollTimerMs = 250;

// Notification codes the server itself sends.
inline constexpr std::uint16_t kNotifyReaderError = 100;
inline constexpr std::uint16_t kNotifySessionListChanged = 310;

// Not final: until the reader layer brings its waits, a test stands in for
// one (a wait that pumps messages, or one that fails) by overriding an
// environment hook.
class Server : public ServerEnvironment {
 public:
  Server(ServerOptions options, ErrorTexts texts);
  ~Server() override;

  // Starts the server and runs its loop until the idle check ends it.
  // 0 after an idle exit; kSecondInstance or kNoServerWindow when it could
  // not start.
  std::int32_t run();

  // Serves one queued job, unless a serial-port wait is pumping messages or
  // 4 commands are already in progress. The loop calls it after every
  // message; a reader wait that pumps messages calls it after its pump, which
  // is how commands come to run nested.
  void serveQueuedJob();

  // Shown while a driver-channel transfer runs; its window goes with the
  // server.
  BusyCursor& busyCursor() { return busyCursor_; }

  // ServerEnvironment
  const ErrorTexts& errorTexts() override { return texts_; }
  std::vector<const Session*> sessions() override;
  std::string title(const Session& session) override;
  std::optional<ReaderLabel> reader(const Session& session) override;
  void destroySession(Session& session) override;
  void loadReaderList() override;
  void searchComPort(Session& session, std::optional<int> port, bool fast, bool select) override;
  void showMessage(std::string_view caption, std::string_view text) override;
  void setScreenSaverRunning(std::int32_t n) override;

 private:
  static void pollTimerProc(win32::HWND, win32::UINT, win32::UINT_PTR, win32::DWORD);
  static void idleTimerProc(win32::HWND, win32::UINT, win32::UINT_PTR, win32::DWORD);

  void loop();
  void handleJob(TSrvJob& job);
  TTask& sessionOf(const TSrvJob& job, std::int32_t handle);
  void endSession(TTask& task);
  void pollingPass();
  void idleCheck();

  // Notifications (notifications.cpp).
  void notify(const TTask& task, std::uint16_t code, std::uint16_t argument);
  void broadcast(std::uint16_t code, std::uint16_t argument = 0);
  void reevaluate(TTask& task);
  void reevaluateAll();

  void freeEndedSessions();

  ServerOptions options_;
  ErrorTexts texts_;
  Interpreter interpreter_{*this};
  TWmc endpoint_{WmcRole::Server};
  SessionList sessions_;
  BusyCursor busyCursor_;
  std::uint32_t commandsInProgress_ = 0;
  std::uint32_t pollingPassesInProgress_ = 0;
  // Raised while a serial-port wait pumps messages: no job and no timer pass
  // starts then. The serial ports raise it; nothing does yet.
  std::uint32_t readerWaitsPumping_ = 0;
  bool inDriverTransferMessage_ = false;
  bool quit_ = false;
  std::int32_t idleSeconds_ = 0;

  static Server* running_;
};

}  // namespace k52::chiphost

// Start, message loop, timers, polling pass and idle exit.
#include "chiphost/server/server.h"

#include <algorithm>

#include "chiphost/readers/reader_attachment.h"
#include "platform/win32/messaging/user.h"

namespace k52::chiphost {

using namespace win32;

namespace {

constexpr std::uint32_t kMaxCommands = 4;
constexpr std::uint32_t kMaxPollingPasses = 4;

}  // namespace

Server* Server::running_ = nullptr;

Server::Server(ServerOptions options, ErrorTexts texts)
    : options_(options), texts_(std::move(texts)) {}

Server::~Server() {
  if (running_ == this) running_ = nullptr;
}

std::int32_t Server::run() {
  if (const std::int32_t r = endpoint_.createServer(); r != 0) return r;
  running_ = this;
  const HWND window = endpoint_.window();
  if (options_.launcher > 0) PostMessageA(options_.launcher, kMsgServerUp, 0, 0);
  if (options_.idleLimit > 0) SetTimer(window, kIdleTimer, kIdleTimerMs, idleTimerProc);
  SetTimer(window, kPollTimer, kPollTimerMs, pollTimerProc);
  endpoint_.setJobHandler([this](TSrvJob& job) { handleJob(job); });
  loop();
  KillTimer(window, kIdleTimer);
  KillTimer(window, kPollTimer);
  // The stored reader list is saved here once there are readers to keep.
  running_ = nullptr;
  return 0;
}

void Server::loop() {
  MSG msg;
  for (;;) {
    // A WM_QUIT does not end the loop: only the idle check does.
    GetMessageA(&msg, 0, 0, 0);
    if (quit_) return;
    if (msg.message == kMsgDriverTransfer) {
      if (!inDriverTransferMessage_) {
        inDriverTransferMessage_ = true;
        // Readers on the driver channel read their status in this pass: the
        // other device had the line and a card may have come or gone.
        ReaderAttachment::forceStatusOnDriverPorts();
        pollingPass();
        inDriverTransferMessage_ = false;
      }
    } else {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    serveQueuedJob();
  }
}

void Server::serveQueuedJob() {
  if (readerWaitsPumping_ == 0 && commandsInProgress_ < kMaxCommands) endpoint_.serveOneJob();
}

void Server::pollTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  Server* server = running_;
  if (server == nullptr || server->readerWaitsPumping_ > 0 ||
      server->pollingPassesInProgress_ >= kMaxPollingPasses) {
    return;
  }
  server->pollingPass();
}

void Server::idleTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  if (running_ != nullptr) running_->idleCheck();
}

void Server::pollingPass() {
  ++pollingPassesInProgress_;
  // 1. Dead windows: registrations go, sessions of vanished clients end.
  std::vector<TTask*> newestFirst = sessions_.all();
  std::reverse(newestFirst.begin(), newestFirst.end());
  for (TTask* task : newestFirst) {
    std::erase_if(task->session.registrations,
                  [](const TTaskWnd& r) { return !IsWindow(r.window); });
    if (!IsWindow(task->clientWindow)) endSession(*task);
  }
  // 2., 3. Each reader's state update, in list order, and "detect finished"
  // becoming "valid", go here; the reader list is empty.
  // 4. Notifications, in priority order.
  reevaluateAll();
  // 5. Readers marked for removal (Remove) are freed here, in a timer pass
  // not nested in another and while no command runs; none exist yet.
  --pollingPassesInProgress_;
  freeEndedSessions();
}

void Server::idleCheck() {
  const std::string clientClass = endpoint_.name() + std::string(kClientClassSuffix);
  if (FindWindowA(clientClass.c_str(), nullptr) != 0) {
    idleSeconds_ = 0;
  } else if (++idleSeconds_ > options_.idleLimit) {
    quit_ = true;
  }
}

void Server::freeEndedSessions() {
  if (commandsInProgress_ == 0 && pollingPassesInProgress_ == 0) sessions_.freeEnded();
}

}  // namespace k52::chiphost

// The job handler and what the interpreter asks of the server.
#include <algorithm>

#include "chiphost/core/excpt.h"
#include "chiphost/server/server.h"
#include "platform/diag/debug_log.h"
#include "platform/win32/messaging/user.h"

namespace k52::chiphost {

using namespace win32;

namespace {

// Lowers the count of commands in progress on every way out.
class CommandCount {
 public:
  explicit CommandCount(std::uint32_t& count) : count_(++count) {}
  ~CommandCount() { --count_; }
  CommandCount(const CommandCount&) = delete;
  CommandCount& operator=(const CommandCount&) = delete;

 private:
  std::uint32_t& count_;
};

}  // namespace

void Server::handleJob(TSrvJob& job) {
  // The session's handle once it is known, else the one asked for: a client
  // goes on in the session a reply names.
  std::int32_t handle = 0;
  try {
    const Request request = readRequest(job.request);
    if (request.functionCode != kFunctionCode) return;  // the reply stays the bare header
    handle = request.handle;
    CommandCount running(commandsInProgress_);
    // The data block holds at most 32768 bytes, in and out.
    const auto data = request.data.first(std::min(request.data.size(), kDataBufferSize));
    TTask& task = sessionOf(job, request.handle);
    handle = task.session.handle;
    CommandResult result = interpreter_.serve(task.session, request.command, data);
    if (result.reply.size() > kDataBufferSize) result.reply.resize(kDataBufferSize);
    job.reply = encodeReply({}, {result.result, handle, std::move(result.reply)});
  } catch (...) {
    // Errors of a command end in the interpreter. Anything else (memory
    // running out) must still end the request with a result code: a bare
    // header reads to the client as no reply at all.
    diag::debugLog("chiphost job handler", diag::currentExceptionText());
    job.reply = encodeReply({}, {kRequestFailure, handle, {}});
  }
  freeEndedSessions();
}

TTask& Server::sessionOf(const TSrvJob& job, std::int32_t handle) {
  const DWORD thread = GetWindowThreadProcessId(job.clientWindow, nullptr);
  TTask* task = sessions_.find(handle, thread);
  if (task == nullptr) {
    task = &sessions_.create(handle, thread, job.clientWindow);
    broadcast(kNotifySessionListChanged);
  }
  ++task->commandCount;
  return *task;
}

void Server::endSession(TTask& task) {
  sessions_.end(task);
  // Reader locks the session held are released here (none without readers).
  reevaluateAll();
  task.session.registrations.clear();
  broadcast(kNotifySessionListChanged);
}

std::vector<const Session*> Server::sessions() {
  std::vector<const Session*> out;
  for (const TTask* task : sessions_.all()) out.push_back(&task->session);
  return out;
}

std::string Server::title(const Session& session) {
  const TTask* task = sessions_.of(session);
  return task == nullptr ? "-" : sessionTitle(task->clientThread);
}

std::optional<ReaderLabel> Server::reader(const Session&) {
  return std::nullopt;  // no session has a reader while the list is empty
}

void Server::destroySession(Session& session) {
  if (TTask* task = sessions_.of(session)) endSession(*task);
}

void Server::loadReaderList() {
  // The stored reader list is read here, once per run; there is none yet.
}

void Server::searchComPort(Session&, std::optional<int> port, bool, bool select) {
  // Without reader families no port answers: the reader object of a
  // searched port stays in state error; the scan of all ports finds nothing.
  if (port) throw Excpt("1008");
  if (select) pollingPass();
}

void Server::showMessage(std::string_view caption, std::string_view text) {
  MessageBoxA(endpoint_.window(), std::string(text).c_str(), std::string(caption).c_str(), MB_OK);
}

void Server::setScreenSaverRunning(std::int32_t n) {
  BOOL previous = FALSE;
  SystemParametersInfoA(97, static_cast<UINT>(n), &previous, 0);
}

}  // namespace k52::chiphost

// Notifications to the sessions' registered windows and their re-evaluation.
#include "chiphost/server/server.h"
#include "platform/win32/messaging/user.h"

namespace k52::chiphost {

using namespace win32;

void Server::notify(const TTask& task, std::uint16_t code, std::uint16_t argument) {
  // The reader's index in the list goes into the low word; no reader yet.
  const auto lParam =
      static_cast<LPARAM>(static_cast<std::uint32_t>(argument) << 16 | kNoReaderIndex);
  for (const TTaskWnd& r : task.session.registrations)
    PostMessageA(r.window, r.message, code, lParam);
}

void Server::broadcast(std::uint16_t code, std::uint16_t argument) {
  for (const TTask* task : sessions_.all()) notify(*task, code, argument);
}

void Server::reevaluateAll() {
  const std::vector<TTask*> order = sessions_.byPriority();
  for (TTask* task : order) reevaluate(*task);
}

void Server::reevaluate(TTask& task) {
  // The automatic reader choice (held or auto-locked reader, else the first
  // by state preference valid, inactive, detect, invalid, wait, else the
  // first of the list) belongs here; with an empty list the session has no
  // reader, which clears an explicit selection, and its state is "error".
  task.session.explicitSelect = false;
  const int state = kReaderStateError;
  const TTask* holder = nullptr;
  const int reader = -1;
  if (state == task.reportedState && holder == task.reportedHolder && reader == task.reportedReader)
    return;
  task.autoLockTaken = false;
  task.reportedState = state;
  task.reportedHolder = holder;
  task.reportedReader = reader;
  notify(task, kNotifyReaderError, 0);
}

}  // namespace k52::chiphost

// Finding, creating and ending sessions.
#include "chiphost/server/session_list.h"

#include <algorithm>
#include <string>

#include "platform/win32/messaging/user.h"

namespace k52::chiphost {

using namespace win32;

TTask* SessionList::find(std::int32_t handle, DWORD thread) {
  if (handle < 0) return nullptr;
  for (const auto& task : sessions_) {
    if (task->session.handle == handle || (handle == 0 && task->clientThread == thread))
      return task.get();
  }
  return nullptr;
}

TTask& SessionList::create(std::int32_t handle, DWORD thread, HWND window) {
  // A handle finds one session: two live sessions with one handle would let
  // the requests of one client run in the other's session. The count passes
  // over handles that clients asked for, and a handle asked for that is taken
  // gets a counted one.
  do {
    ++counter_;
  } while (inUse(counter_));
  auto task = std::make_unique<TTask>();
  task->session.handle = handle > 0 && !inUse(handle) ? handle : counter_;
  task->clientThread = thread;
  task->clientWindow = window;
  TTask& made = *task;
  sessions_.push_back(std::move(task));
  priority_.push_back(&made);
  return made;
}

bool SessionList::inUse(std::int32_t handle) const {
  return std::any_of(sessions_.begin(), sessions_.end(),
                     [&](const auto& task) { return task->session.handle == handle; });
}

void SessionList::end(TTask& task) {
  std::erase(priority_, &task);
  const auto it = std::find_if(sessions_.begin(), sessions_.end(),
                               [&](const auto& t) { return t.get() == &task; });
  if (it == sessions_.end()) return;
  ended_.push_back(std::move(*it));
  sessions_.erase(it);
}

std::vector<TTask*> SessionList::all() const {
  std::vector<TTask*> out;
  for (const auto& task : sessions_) out.push_back(task.get());
  return out;
}

TTask* SessionList::of(const Session& session) const {
  for (const auto& task : sessions_)
    if (&task->session == &session) return task.get();
  for (const auto& task : ended_)
    if (&task->session == &session) return task.get();
  return nullptr;
}

namespace {

struct TitleSearch {
  DWORD thread;
  std::string title = "-";
};

BOOL titleOf(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<TitleSearch*>(lParam);
  if (!IsWindowVisible(hwnd) || GetWindow(hwnd, GW_OWNER) != 0 ||
      GetWindowThreadProcessId(hwnd, nullptr) != search->thread) {
    return TRUE;
  }
  char text[256];
  const int n = GetWindowTextA(hwnd, text, sizeof text);
  search->title.assign(text, static_cast<std::size_t>(std::max(n, 0)));
  return FALSE;
}

}  // namespace

std::string sessionTitle(DWORD thread) {
  TitleSearch search{thread};
  EnumWindows(titleOf, reinterpret_cast<LPARAM>(&search));
  return search.title;
}

}  // namespace k52::chiphost

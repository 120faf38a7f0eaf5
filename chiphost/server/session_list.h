// The server's sessions: the list in creation order (positions in it are what
// TaskList, LockedBy and code 160 report), the priority list in which
// notifications are re-evaluated, and the counter that hands out handles.
//
// Ended sessions leave both lists at once but are freed only by
// freeEnded(), when no command that may still hold one is running.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "chiphost/server/task.h"

namespace k52::chiphost {

class SessionList {
 public:
  // The first session whose handle is `handle` or, for handle 0, whose client
  // thread is `thread`; none for a negative handle.
  TTask* find(std::int32_t handle, win32::DWORD thread);
  // A new session with `handle` when it is positive and no live session has
  // it, else the next counter value that no live session has; appended to
  // both lists.
  TTask& create(std::int32_t handle, win32::DWORD thread, win32::HWND window);
  // Takes the session out of both lists; it stays allocated until freeEnded.
  void end(TTask& task);
  void freeEnded() { ended_.clear(); }

  // Creation order, and priority order.
  std::vector<TTask*> all() const;
  const std::vector<TTask*>& byPriority() const { return priority_; }
  // The session whose interpreter part is `session`, null when none.
  TTask* of(const Session& session) const;

 private:
  bool inUse(std::int32_t handle) const;

  std::list<std::unique_ptr<TTask>> sessions_;
  std::vector<TTask*> priority_;
  std::vector<std::unique_ptr<TTask>> ended_;
  std::int32_t counter_ = 0;
};

// A session's title: the text of the first window, from the top of the
// z-order, that is visible, has no owner and belongs to `thread`; "-" when
// there is none.
std::string sessionTitle(win32::DWORD thread);

}  // namespace k52::chiphost

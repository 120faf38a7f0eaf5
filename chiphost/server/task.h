// `TTask`: one client session as the server keeps it. The part the command
// interpreter works on is the core's Session; the rest is the server's.
#pragma once

#include <cstdint>

#include "chiphost/core/session.h"
#include "platform/win32/messaging/types.h"

namespace k52::chiphost {

// Reader states as the notifications report them. Only "error" can occur
// while the reader list is empty.
inline constexpr int kReaderStateNone = 0;  // named, never entered: nothing reported yet
inline constexpr int kReaderStateError = 2;

// No reader: the low word of a notification's lParam.
inline constexpr std::uint16_t kNoReaderIndex = 0xFFFF;

struct TTask {
  Session session;
  // The thread that owns the window of the session's first request, and
  // that window; the session ends when the window is gone.
  win32::DWORD clientThread = 0;
  win32::HWND clientWindow = 0;
  // Notification memory: what the session was last told.
  int reportedState = kReaderStateNone;
  const TTask* reportedHolder = nullptr;
  int reportedReader = -1;
  bool autoLockTaken = false;
  std::uint32_t commandCount = 0;
};

}  // namespace k52::chiphost

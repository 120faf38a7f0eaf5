#include "platform/win32/messaging/user.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>

#include "platform/win32/messaging/desktop.h"
#include "platform/win32/messaging/kernel.h"

namespace k52::win32 {
namespace {

// While a sender waits for its answer it looks after messages sent to itself
// this often, so two threads sending to each other do not lock up.
constexpr auto kSendSlice = std::chrono::milliseconds(5);

std::shared_ptr<ThreadQueue> ownQueue() {
  return desktop().queueOf(currentThreadId());
}

std::optional<WindowEntry> liveWindow(HWND hwnd) {
  auto entry = desktop().registry().find(hwnd);
  if (!entry) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return entry;
}

LRESULT callProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto window = desktop().localWindow(hwnd);
  if (!window || window->proc == nullptr) return 0;
  return window->proc(hwnd, message, wParam, lParam);
}

// Runs a message sent from another thread and answers its sender.
void answer(IncomingSend send) {
  Fd reply(send.replyFd);
  const wire::Frame& f = send.frame;
  COPYDATASTRUCT data;
  LPARAM lParam = static_cast<LPARAM>(f.lParam);
  if (f.message == WM_COPYDATA) {
    data.dwData = static_cast<ULONG_PTR>(f.lParam);
    data.cbData = static_cast<DWORD>(f.payload.size());
    data.lpData = f.payload.empty() ? nullptr : const_cast<std::uint8_t*>(f.payload.data());
    lParam = reinterpret_cast<LPARAM>(&data);
  }
  const bool exists = desktop().localWindow(f.target).has_value();
  const LRESULT result = exists ? callProc(f.target, f.message, f.wParam, lParam) : 0;
  auto bytes = wire::encodeReply({exists, result});
  writeAll(reply.get(), bytes.data(), bytes.size());
}

void answerPendingSends(ThreadQueue& queue) {
  while (auto send = queue.takeSend()) answer(std::move(*send));
}

// One frame to the process that owns the target; the reply, or nullopt when
// that process is gone or did not take the frame.
std::optional<wire::Reply> deliver(pid_t pid, const wire::Frame& frame) {
  Fd fd = connectSocket(desktop().socketOf(pid), SOCK_STREAM);
  if (!fd) return std::nullopt;
  const auto bytes = wire::encode(frame);
  if (!writeAll(fd.get(), bytes.data(), bytes.size())) return std::nullopt;
  std::array<std::uint8_t, wire::kReplySize> reply;
  if (frame.kind == wire::Kind::Send) {
    // No time limit, as on the platform: the receiver answers when its
    // thread gets to the message, or its socket closes when it dies.
    // Meanwhile messages sent to this thread are answered.
    auto queue = ownQueue();
    for (;;) {
      pollfd p{fd.get(), POLLIN, 0};
      const int waitMs = static_cast<int>(kSendSlice.count());
      if (::poll(&p, 1, waitMs) > 0) break;
      answerPendingSends(*queue);
    }
  }
  if (!readExactly(fd.get(), reply.data(), reply.size())) return std::nullopt;
  return wire::decodeReply(reply);
}

bool applyEntry(HWND hwnd, const std::function<void(WindowEntry&)>& change) {
  Desktop& d = desktop();
  std::lock_guard lock(d.mutex());
  auto it = d.windows().find(hwnd);
  if (it == d.windows().end()) return false;
  change(it->second.entry);
  d.registry().write(it->second.entry);
  return true;
}

}  // namespace

void attach(const Prefix& prefix, Clock& clock) {
  replaceDesktop(nullptr);
  replaceDesktop(std::make_unique<Desktop>(prefix, clock));
}

void detach() {
  replaceDesktop(nullptr);
}

ATOM RegisterClassA(const WNDCLASSA* wc) {
  if (wc == nullptr || wc->lpszClassName == nullptr || wc->lpfnWndProc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Desktop& d = desktop();
  std::lock_guard lock(d.mutex());
  auto [it, inserted] = d.classes().try_emplace(classKey(wc->lpszClassName),
                                                WindowClass{wc->lpszClassName, wc->lpfnWndProc});
  if (!inserted) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  return static_cast<ATOM>(0xC000 + d.classes().size());
}

HWND CreateWindowExA(DWORD, LPCSTR className, LPCSTR windowName, DWORD style, int, int, int, int,
                     HWND parent, void*, HINSTANCE, LPVOID) {
  Desktop& d = desktop();
  std::lock_guard lock(d.mutex());
  auto cls = className ? d.classes().find(classKey(className)) : d.classes().end();
  if (cls == d.classes().end()) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return 0;
  }
  LocalWindow window;
  window.proc = cls->second.proc;
  WindowEntry& e = window.entry;
  e.hwnd = d.registry().allocateHandle();
  e.process = d.self();
  e.tid = currentThreadId();
  e.visible = (style & WS_VISIBLE) != 0;
  e.owner = parent;
  e.z = d.registry().allocateZ();
  e.className = cls->second.name;
  e.title = windowName ? windowName : "";
  d.registry().write(e);
  d.windows().emplace(e.hwnd, window);
  return e.hwnd;
}

HWND CreateWindowA(LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                   int height, HWND parent, void* menu, HINSTANCE instance, LPVOID param) {
  return CreateWindowExA(0, className, windowName, style, x, y, width, height, parent, menu,
                         instance, param);
}

BOOL DestroyWindow(HWND hwnd) {
  Desktop& d = desktop();
  auto window = d.localWindow(hwnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  callProc(hwnd, WM_DESTROY, 0, 0);
  {
    std::lock_guard lock(d.mutex());
    d.windows().erase(hwnd);
  }
  d.registry().remove(hwnd);
  d.queueOf(window->entry.tid)->forget(hwnd);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  return desktop().registry().find(hwnd) ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd) {
  auto entry = desktop().registry().find(hwnd);
  return entry && entry->visible ? TRUE : FALSE;
}

BOOL ShowWindow(HWND hwnd, int command) {
  bool before = false;
  applyEntry(hwnd, [&](WindowEntry& e) {
    before = e.visible;
    e.visible = command != SW_HIDE;
  });
  return before ? TRUE : FALSE;
}

HWND FindWindowA(LPCSTR className, LPCSTR windowName) {
  const std::string key = className ? classKey(className) : std::string();
  for (const auto& e : desktop().registry().liveWindows()) {
    if (className && classKey(e.className) != key) continue;
    if (windowName && e.title != windowName) continue;
    return e.hwnd;
  }
  return 0;
}

BOOL EnumWindows(WNDENUMPROC callback, LPARAM lParam) {
  if (callback == nullptr) return FALSE;
  for (const auto& e : desktop().registry().liveWindows()) {
    if (!callback(e.hwnd, lParam)) break;
  }
  return TRUE;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
  auto entry = liveWindow(hwnd);
  if (processId) *processId = entry ? static_cast<DWORD>(entry->process.pid) : 0;
  return entry ? entry->tid : 0;
}

int GetWindowTextA(HWND hwnd, LPSTR buffer, int maxCount) {
  if (buffer == nullptr || maxCount <= 0) return 0;
  buffer[0] = '\0';
  auto entry = liveWindow(hwnd);
  if (!entry) return 0;
  const std::size_t n = std::min(entry->title.size(), static_cast<std::size_t>(maxCount - 1));
  std::memcpy(buffer, entry->title.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
  if (!applyEntry(hwnd, [&](WindowEntry& e) { e.title = text ? text : ""; })) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

HWND GetWindow(HWND hwnd, UINT relation) {
  auto entry = liveWindow(hwnd);
  return entry && relation == GW_OWNER ? entry->owner : 0;
}

DWORD GetCurrentThreadId() {
  return currentThreadId();
}
DWORD GetCurrentProcessId() {
  return static_cast<DWORD>(::getpid());
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  if (msg == nullptr) return FALSE;
  auto queue = ownQueue();
  answerPendingSends(*queue);
  auto next = queue->take({hwnd, filterMin, filterMax}, (removeFlags & PM_REMOVE) != 0);
  if (!next) return FALSE;
  *msg = *next;
  return TRUE;
}

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  if (msg == nullptr) return FALSE;
  auto queue = ownQueue();
  const MessageFilter filter{hwnd, filterMin, filterMax};
  for (;;) {
    answerPendingSends(*queue);
    if (auto next = queue->take(filter, true)) {
      *msg = *next;
      return msg->message == WM_QUIT ? FALSE : TRUE;
    }
    queue->wait(filter);
  }
}

BOOL TranslateMessage(const MSG*) {
  return FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (msg == nullptr) return 0;
  if (msg->message == WM_TIMER && msg->lParam != 0) {
    reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
    return 0;
  }
  return callProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) {
  return 0;
}

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (hwnd == 0) return PostThreadMessageA(currentThreadId(), message, wParam, lParam);
  Desktop& d = desktop();
  if (auto local = d.localWindow(hwnd)) {
    MSG msg;
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    d.queueOf(local->entry.tid)->post(msg);
    return TRUE;
  }
  auto entry = liveWindow(hwnd);
  if (!entry) return FALSE;
  wire::Frame frame{wire::Kind::Post, hwnd, message, wParam, lParam, {}};
  auto reply = deliver(entry->process.pid, frame);
  if (!reply || !reply->delivered) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  auto pid = processOfThread(threadId);
  if (!pid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (*pid == ::getpid()) {
    MSG msg;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    desktop().queueOf(threadId)->post(msg);
    return TRUE;
  }
  wire::Frame frame{wire::Kind::PostThread, threadId, message, wParam, lParam, {}};
  auto reply = deliver(*pid, frame);
  if (!reply || !reply->delivered) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  ownQueue()->postQuit(exitCode);
}

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Desktop& d = desktop();
  if (auto local = d.localWindow(hwnd); local && local->entry.tid == currentThreadId()) {
    return local->proc(hwnd, message, wParam, lParam);
  }
  auto entry = liveWindow(hwnd);
  if (!entry) return 0;
  wire::Frame frame{wire::Kind::Send, hwnd, message, wParam, lParam, {}};
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (data == nullptr || data->cbData > wire::kMaxPayload ||
        (data->cbData > 0 && data->lpData == nullptr)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    frame.lParam = static_cast<std::int64_t>(data->dwData);
    const auto* bytes = static_cast<const std::uint8_t*>(data->lpData);
    frame.payload.assign(bytes, bytes + data->cbData);
  }
  auto reply = deliver(entry->process.pid, frame);
  if (!reply || !reply->delivered) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return static_cast<LRESULT>(reply->result);
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  static std::atomic<UINT_PTR> nextId{0x7000};
  if (hwnd != 0 && !desktop().localWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (hwnd == 0) id = nextId++;
  ownQueue()->setTimer(hwnd, id, elapseMs, proc);
  return id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  return ownQueue()->killTimer(hwnd, id) ? TRUE : FALSE;
}

}  // namespace k52::win32

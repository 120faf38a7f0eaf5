// Windows and window messages between the processes of one prefix.
//
// Each process attaches to one prefix (attach(), or implicitly to
// Prefix::fromEnvironment() on the real clock at its first call). Windows are
// registered under <prefix>/run/windows/ so that every process of the prefix
// sees them; each process listens on <prefix>/run/procs/<pid>.sock for
// messages that other processes and its own other threads post or send to
// its windows (wire format: wire.h). A window lives until DestroyWindow or
// until its process ends; the window of a process that died is gone for every
// call below, and its entry is deleted by the first lookup that meets it.
//
// Threads: a thread's message queue is made at its first use. Posted and sent
// messages for a window go to the thread that created it; timers go to the
// thread that called SetTimer. A message sent from another thread or process
// is handled while the receiving thread is inside GetMessage, PeekMessage or
// a SendMessage of its own, as on Windows.
//
// Errors: calls that fail return FALSE, 0 or nullptr and set the calling
// thread's last error (GetLastError in kernel.h).
#pragma once

#include <filesystem>

#include "platform/clock/clock.h"
#include "platform/win32/messaging/types.h"
#include "platform/win32/prefix.h"

namespace k52::win32 {

// Binds this process to `prefix`, with `clock` as the time source of timers
// and message times; `clock` must outlive the attachment. Destroys the
// windows of an earlier attachment of this process first. A child made by
// fork() is attached anew at its first call (to the parent's prefix).
void attach(const Prefix& prefix, Clock& clock = RealClock::instance());
// Destroys this process's windows and stops listening; the next call attaches
// again from the environment.
void detach();

// --- window classes and windows -------------------------------------------

// Registers a class of this process. Class names compare case-insensitively.
// Result: a non-zero atom, or 0 (ERROR_CLASS_ALREADY_EXISTS, or
// ERROR_INVALID_PARAMETER without a name or procedure).
ATOM RegisterClassA(const WNDCLASSA* wc);

// Creates a window of a class registered by this process, owned by the
// calling thread. A top-level window goes to the top of the z-order; it is
// visible when `style` holds WS_VISIBLE. `parent` is taken as the window's
// owner (GetWindow GW_OWNER). Position, size, menu, instance and `param` are
// accepted and ignored: there is no display. No WM_CREATE is sent.
// Result: the handle, unique within the prefix, or 0
// (ERROR_CANNOT_FIND_WND_CLASS).
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, void* menu, HINSTANCE instance,
                     LPVOID param);
HWND CreateWindowA(LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                   int height, HWND parent, void* menu, HINSTANCE instance, LPVOID param);

// Destroys a window of this process: its procedure receives WM_DESTROY, then
// the window disappears for all processes; its timers and queued messages go.
// FALSE (ERROR_INVALID_WINDOW_HANDLE) for a window of another process.
BOOL DestroyWindow(HWND hwnd);

// TRUE when `hwnd` is a live window of any process of the prefix.
BOOL IsWindow(HWND hwnd);
BOOL IsWindowVisible(HWND hwnd);
// Shows or hides a window of this process; the result is the previous
// visibility. SW_HIDE hides, every other command shows.
BOOL ShowWindow(HWND hwnd, int command);

// The topmost live window of the class (case-insensitive) and, when
// `windowName` is not null, with exactly that title; 0 when there is none.
HWND FindWindowA(LPCSTR className, LPCSTR windowName);

// Calls `callback` for each live window, top of the z-order first, until it
// returns FALSE. The list is taken before the first call.
using WNDENUMPROC = BOOL (*)(HWND, LPARAM);
BOOL EnumWindows(WNDENUMPROC callback, LPARAM lParam);

// The thread that created the window; its process id in *processId when not
// null. 0 for no such window.
DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId);

// Copies the title, cut to maxCount - 1 characters and terminated, into
// `buffer`; the result is the number of characters copied (0 for no window).
int GetWindowTextA(HWND hwnd, LPSTR buffer, int maxCount);
BOOL SetWindowTextA(HWND hwnd, LPCSTR text);

// GW_OWNER: the window's owner, 0 when it has none. Other relations: 0.
HWND GetWindow(HWND hwnd, UINT relation);

DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// --- messages ----------------------------------------------------------------

// Retrieves the next message for the calling thread, waiting for one:
// messages sent from other threads are handled first (their procedure is
// called here), then posted messages in order, then WM_QUIT after
// PostQuitMessage, then WM_TIMER of a due timer. With `hwnd` not 0 only that
// window's messages are taken; with min and max not both 0 only messages in
// that range. Result: 0 for WM_QUIT, else non-zero.
// On a VirtualClock, a thread that has nothing to do but a pending timer
// moves the clock on to the timer's due time.
BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
// As GetMessage without waiting: FALSE when no message is there. With
// PM_NOREMOVE the message stays queued (timers are still restarted).
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
// Nothing to translate without a keyboard: returns FALSE.
BOOL TranslateMessage(const MSG* msg);
// Calls the procedure of msg->hwnd (a window of this process) and returns its
// result; a WM_TIMER with a TIMERPROC in lParam calls that instead. 0 for a
// message without a window of this process.
LRESULT DispatchMessageA(const MSG* msg);
LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Queues a message for the window's thread, in this or another process, and
// returns at once. Between processes lParam travels as a number (a pointer
// means nothing there); WM_COPYDATA cannot be posted (FALSE,
// ERROR_INVALID_PARAMETER), as on Windows. With hwnd 0 the message goes to
// the calling thread's queue (PostThreadMessage). FALSE for no such window.
BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Queues a message without window for the thread `threadId` of any process of
// the machine that uses this stand-in.
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// Calls the window's procedure and returns its result. For a window of the
// calling thread the procedure runs at once; otherwise the message goes to
// the owning thread (of this or another process), and the caller waits for
// the result, handling messages sent to itself meanwhile. WM_COPYDATA carries
// the COPYDATASTRUCT's dwData and cbData bytes at lpData; the receiver gets
// its own copy, valid during the call. Other messages' lParam travels as a
// number. 0 (ERROR_INVALID_WINDOW_HANDLE) when the window does not exist or
// its process ends before answering.
LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Starts (or restarts) timer `id` of `hwnd` for the calling thread: every
// `elapseMs` of the attached clock a WM_TIMER (wParam = id, lParam = proc) is
// due. With hwnd 0 a new id is chosen. Result: the id, 0 on failure.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// --- shell --------------------------------------------------------------------

// Starts a program by command line and returns at once. The first word (in
// double quotes when it holds blanks) names the program: a trailing ".EXE" is
// dropped, and it is looked for as an executable file in the directories of
// $K52_PROGRAM_PATH, <prefix>/drive_c/windows/system32, <prefix>/drive_c/windows
// and $PATH, in the exact spelling first, then in lower case (a name with a
// '/' is taken as a path). The other words are its arguments. The program runs
// detached, with K52_PREFIX set to this process's prefix. Result: greater
// than 31 when it started, ERROR_FILE_NOT_FOUND (2) when no program was found
// or it could not be run. `show` is ignored.
UINT WinExec(LPCSTR commandLine, UINT show);

// There is no display: the box is written as one line to standard error
// ("MessageBox [caption] text") and IDOK is returned at once.
int MessageBoxA(HWND hwnd, LPCSTR text, LPCSTR caption, UINT type);

// Action 97 (the screen saver flag the server sets) is logged to standard
// error and ignored; the result is TRUE. Other actions: FALSE
// (ERROR_NOT_SUPPORTED).
BOOL SystemParametersInfoA(UINT action, UINT uiParam, LPVOID pvParam, UINT winIni);

}  // namespace k52::win32

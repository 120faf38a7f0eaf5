#include "chiphost/server/busy_cursor.h"

#include <map>
#include <string>

#include "platform/win32/messaging/user.h"

namespace k52::chiphost {
namespace {

constexpr int kSize = 24;
constexpr win32::UINT_PTR kStepTimer = 1;

// The busy cursors of this process by window, for the timer procedure.
std::map<win32::HWND, BusyCursor*>& cursors() {
  static std::map<win32::HWND, BusyCursor*> byWindow;
  return byWindow;
}

}  // namespace

BusyCursor::~BusyCursor() {
  if (window_ == 0) return;
  win32::KillTimer(window_, kStepTimer);
  cursors().erase(window_);
  win32::DestroyWindow(window_);
}

void BusyCursor::show() {
  if (shown_) return;
  if (window_ == 0) {
    const std::string className(kBusyCursorClass);
    win32::WNDCLASSA wc;
    wc.lpfnWndProc = win32::DefWindowProcA;
    wc.lpszClassName = className.c_str();
    win32::RegisterClassA(&wc);  // fails harmlessly when an earlier cursor registered it
    // No display, so no mouse: the window is centred on the origin.
    window_ = win32::CreateWindowExA(
        win32::WS_EX_TOPMOST, className.c_str(), std::string(kBusyCursorTitle).c_str(),
        win32::WS_POPUP, -kSize / 2, -kSize / 2, kSize, kSize, 0, nullptr, nullptr, nullptr);
    if (window_ == 0) return;
    cursors()[window_] = this;
  }
  frame_ = 0;
  shown_ = true;
  win32::ShowWindow(window_, win32::SW_SHOWNA);
  win32::SetTimer(window_, kStepTimer, kBusyCursorStepMs, step);
}

void BusyCursor::hide() {
  if (!shown_) return;
  shown_ = false;
  win32::KillTimer(window_, kStepTimer);
  win32::ShowWindow(window_, win32::SW_HIDE);
}

void BusyCursor::step(win32::HWND window, win32::UINT, win32::UINT_PTR, win32::DWORD) {
  const auto found = cursors().find(window);
  if (found == cursors().end()) return;
  BusyCursor& cursor = *found->second;
  cursor.frame_ = (cursor.frame_ + 1) % kBusyCursors.size();
}

}  // namespace k52::chiphost

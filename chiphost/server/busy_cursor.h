// The busy cursor of a driver-channel transfer: a 24 by 24 topmost popup
// window of class "SCARDCURSOR" titled "SmartCard", centred on the mouse,
// whose cursor steps through the server's cursor resources "C1", "C2", ...
// every 100 ms and starts again at "C1" after the last one. Without a
// display the window is a record and the cursor the name of its frame.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "platform/win32/messaging/types.h"

namespace k52::chiphost {

inline constexpr std::string_view kBusyCursorClass = "SCARDCURSOR";
inline constexpr std::string_view kBusyCursorTitle = "SmartCard";
inline constexpr win32::UINT kBusyCursorStepMs = 100;
// The cursor resources of the server, in the order they are shown.
inline constexpr std::array<std::string_view, 4> kBusyCursors = {"C1", "C2", "C3", "C4"};

class BusyCursor {
 public:
  BusyCursor() = default;
  // Destroys the window, if it was ever shown.
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

  // A transfer starts: the window (made at the first call) is shown with the
  // first cursor and the animation runs. Nothing happens while it is shown.
  void show();
  // The transfer ended: the window is hidden and the animation stops.
  void hide();

  win32::HWND window() const { return window_; }
  bool shown() const { return shown_; }
  std::string_view cursor() const { return kBusyCursors[frame_]; }

 private:
  static void step(win32::HWND window, win32::UINT, win32::UINT_PTR, win32::DWORD);

  win32::HWND window_ = 0;
  bool shown_ = false;
  std::size_t frame_ = 0;
};

}  // namespace k52::chiphost

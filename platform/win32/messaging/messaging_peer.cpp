// The other process of the messaging tests. Takes its prefix from $K52_PREFIX
// and prints what the test waits for on standard output, one line each.
//
//   window CLASS          a window of CLASS that answers WM_COPYDATA with the
//                         sum of its bytes plus dwData and quits on WM_USER+2
//   objects NAME          a mailslot, mapping and event of NAME, then sleeps
//   send CLASS BYTES      sends WM_COPYDATA with BYTES to the window of CLASS
//                         and prints the result
//   notices MAILSLOT      writes three 13-byte notices and one of 20 bytes
//   request MAILSLOT ID   the shared-memory round trip of a client: mapping
//                         and event named after ID, a notice, waits for the
//                         event and prints the mapping's text
// Every mode ends by itself within 20 s.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32/messaging/kernel.h"
#include "platform/win32/messaging/user.h"

using namespace k52::win32;

namespace {

constexpr UINT kQuit = WM_USER + 2;
constexpr UINT kLifetimeMs = 20000;

LRESULT peerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    LRESULT sum = static_cast<LRESULT>(data->dwData);
    for (DWORD i = 0; i < data->cbData; ++i) sum += static_cast<const BYTE*>(data->lpData)[i];
    return sum;
  }
  if (message == kQuit || message == WM_TIMER) PostQuitMessage(0);
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

void line(const std::string& text) {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

int window(const char* className) {
  WNDCLASSA wc;
  wc.lpfnWndProc = peerProc;
  wc.lpszClassName = className;
  RegisterClassA(&wc);
  HWND hwnd = CreateWindowA(className, "peer", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
  SetTimer(hwnd, 1, kLifetimeMs, nullptr);
  line(std::to_string(hwnd));
  MSG msg;
  while (GetMessageA(&msg, 0, 0, 0)) DispatchMessageA(&msg);
  return 0;
}

int objects(const std::string& name) {
  CreateMailslotA(("\\\\.\\mailslot\\" + name).c_str(), 0, 0, nullptr);
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
  std::strcpy(static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0)), "stale");
  CreateEventA(nullptr, FALSE, TRUE, name.c_str());
  line("ready");
  ::sleep(kLifetimeMs / 1000);
  return 0;
}

int send(const char* className, const std::string& bytes) {
  COPYDATASTRUCT data;
  data.dwData = 1000;
  data.cbData = static_cast<DWORD>(bytes.size());
  data.lpData = const_cast<char*>(bytes.data());
  line(std::to_string(SendMessageA(FindWindowA(className, nullptr), WM_COPYDATA, 0,
                                   reinterpret_cast<LPARAM>(&data))));
  return 0;
}

int notices(const char* mailslot) {
  HANDLE slot = CreateFileA(mailslot, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  for (BYTE i = 1; i <= 4; ++i) {
    BYTE notice[20];
    std::memset(notice, i, sizeof notice);
    WriteFile(slot, notice, i == 4 ? 20 : 13, nullptr, nullptr);
  }
  line("written");
  return 0;
}

int request(const char* mailslot, const std::string& id) {
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 60000,
                                      ("M" + id).c_str());
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, ("E" + id).c_str());
  auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 60000));
  std::strcpy(view, "request");
  HANDLE slot = CreateFileA(mailslot, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  BYTE notice[13] = {1};
  WriteFile(slot, notice, sizeof notice, nullptr, nullptr);
  const DWORD waited = WaitForSingleObject(event, 5000);
  line(waited == WAIT_OBJECT_0 ? std::string(view) : "timeout");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "window" && argc == 3) return window(argv[2]);
  if (mode == "objects" && argc == 3) return objects(argv[2]);
  if (mode == "send" && argc == 4) return send(argv[2], argv[3]);
  if (mode == "notices" && argc == 3) return notices(argv[2]);
  if (mode == "request" && argc == 4) return request(argv[2], argv[3]);
  std::fprintf(stderr, "usage: %s window|objects|send|notices|request ...\n", argv[0]);
  return 2;
}

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/win32/messaging/command_line.h"
#include "platform/win32/messaging/kernel.h"
#include "platform/win32/messaging/unix_socket.h"
#include "platform/win32/messaging/user.h"
#include "platform/win32/messaging/window_registry.h"
#include "platform/win32/messaging/wire.h"
#include "platform/win32/test_temp_dir.h"

namespace k52::win32 {
namespace {

using namespace std::chrono_literals;

std::vector<MSG> seen;

LRESULT recordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG msg;
  msg.hwnd = hwnd;
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  seen.push_back(msg);
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    return static_cast<LRESULT>(data->dwData + data->cbData);
  }
  return static_cast<LRESULT>(wParam * 2);
}

class Messaging : public ::testing::Test {
 protected:
  void SetUp() override {
    seen.clear();
    attach(Prefix(dir.path()), clock);
    WNDCLASSA wc;
    wc.lpfnWndProc = recordingProc;
    wc.lpszClassName = "CHIPHOST";
    ASSERT_NE(RegisterClassA(&wc), 0);
  }
  void TearDown() override { detach(); }

  HWND window(const char* title, DWORD style = 0, HWND owner = 0) {
    return CreateWindowA("chiphost", title, style, 0, 0, 0, 0, owner, nullptr, nullptr, nullptr);
  }

  TempDir dir;
  VirtualClock clock;
};

// A process id that surely is not running: a child that has been reaped.
pid_t deadPid() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

TEST(MessagingWire, FramesRoundTripAndBadOnesAreRefused) {
  wire::Frame frame{wire::Kind::Send, 0x10002, WM_COPYDATA, 0x10001, 7, {1, 2, 3}};
  auto bytes = wire::encode(frame);
  ASSERT_EQ(bytes.size(), wire::kHeaderSize + 3);
  auto back = wire::decode(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->kind, wire::Kind::Send);
  EXPECT_EQ(back->target, 0x10002u);
  EXPECT_EQ(back->message, WM_COPYDATA);
  EXPECT_EQ(back->wParam, 0x10001u);
  EXPECT_EQ(back->lParam, 7);
  EXPECT_EQ(back->payload, frame.payload);

  struct Case {
    const char* what;
    std::size_t at;
    std::uint8_t value;
  } cases[] = {{"magic", 0, 'X'},
               {"kind 0", 4, 0},
               {"kind 4", 4, 4},
               {"length", 29, 4},
               {"huge length", 32, 0x80}};
  for (const auto& c : cases) {
    auto bad = bytes;
    bad[c.at] = c.value;
    EXPECT_FALSE(wire::decode(bad)) << c.what;
  }
  EXPECT_FALSE(wire::decode(std::span(bytes).first(wire::kHeaderSize - 1)));

  auto reply = wire::encodeReply({true, -55});
  EXPECT_EQ(wire::decodeReply(reply)->result, -55);
  reply[0] = 2;
  EXPECT_FALSE(wire::decodeReply(reply));
}

TEST(MessagingRegistry, EntriesRoundTripAndBrokenOnesAreRefused) {
  WindowEntry e;
  e.hwnd = 0x1002A;
  e.process = {4711, 99};
  e.tid = 4712;
  e.visible = true;
  e.owner = 0x10001;
  e.z = 42;
  e.className = "CHIPHOSTCLIENT";
  e.title = "line\nbreak";
  auto back = parseWindowEntry(formatWindowEntry(e));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->hwnd, e.hwnd);
  EXPECT_EQ(back->process, e.process);
  EXPECT_EQ(back->tid, e.tid);
  EXPECT_TRUE(back->visible);
  EXPECT_EQ(back->owner, e.owner);
  EXPECT_EQ(back->z, e.z);
  EXPECT_EQ(back->className, e.className);
  EXPECT_EQ(back->title, "line break");

  const std::string good = formatWindowEntry(e);
  for (const std::string& bad :
       {good.substr(0, good.size() - 1), good + "x", std::string("hwnd=0\n") + good.substr(14),
        good.substr(0, good.find("visible=")) + "visible=2\n" + good.substr(good.find("owner="))}) {
    EXPECT_FALSE(parseWindowEntry(bad)) << bad;
  }
}

BOOL collect(HWND hwnd, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
  return TRUE;
}

TEST_F(Messaging, WindowsAreFoundByClassInZOrderWithTheirAttributes) {
  const HWND owner = window("Kartenleser", WS_VISIBLE);
  const HWND owned = window("dialog", WS_VISIBLE, owner);
  ASSERT_NE(owner, 0u);
  ASSERT_NE(owned, owner);

  EXPECT_EQ(FindWindowA("CHIPHOST", nullptr), owned);  // newest on top
  EXPECT_EQ(FindWindowA("chiphost", "Kartenleser"), owner);
  EXPECT_EQ(FindWindowA("CHIPHOSTCLIENT", nullptr), 0u);

  std::vector<HWND> order;
  EnumWindows(collect, reinterpret_cast<LPARAM>(&order));
  EXPECT_EQ(order, (std::vector<HWND>{owned, owner}));

  DWORD pid = 0;
  EXPECT_EQ(GetWindowThreadProcessId(owner, &pid), GetCurrentThreadId());
  EXPECT_EQ(pid, GetCurrentProcessId());
  char title[6];
  EXPECT_EQ(GetWindowTextA(owner, title, sizeof title), 5);
  EXPECT_STREQ(title, "Karte");
  EXPECT_EQ(GetWindow(owned, GW_OWNER), owner);
  EXPECT_EQ(GetWindow(owner, GW_OWNER), 0u);
  EXPECT_TRUE(IsWindowVisible(owner));
  EXPECT_TRUE(ShowWindow(owner, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(owner));

  EXPECT_TRUE(DestroyWindow(owned));
  EXPECT_FALSE(IsWindow(owned));
  EXPECT_EQ(seen.back().message, WM_DESTROY);
  EXPECT_EQ(FindWindowA("CHIPHOST", nullptr), owner);
  EXPECT_FALSE(DestroyWindow(owned));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(Messaging, AWindowOfADeadProcessIsGoneAndItsEntryRemoved) {
  WindowRegistry registry(dir.path() / "run");
  WindowEntry e;
  e.hwnd = registry.allocateHandle();
  e.process = {deadPid(), 1};
  e.z = registry.allocateZ();
  e.className = "CHIPHOST";
  registry.write(e);
  const auto file = dir.path() / "run" / "windows";
  EXPECT_EQ(FindWindowA("CHIPHOST", nullptr), 0u);
  EXPECT_FALSE(IsWindow(e.hwnd));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file), {}), 1);  // .counter only
  EXPECT_NE(window("new"), 0u);
}

TEST_F(Messaging, PostedMessagesComeInOrderThenQuit) {
  const HWND hwnd = window("w");
  EXPECT_TRUE(PostMessageA(hwnd, WM_USER, 1, 0));
  EXPECT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER + 1, 2, 3));
  EXPECT_TRUE(PostMessageA(hwnd, 2023, 4, 0));
  EXPECT_TRUE(PostMessageA(0, WM_USER + 2, 0, 0));
  PostQuitMessage(9);
  EXPECT_FALSE(PostMessageA(hwnd, WM_COPYDATA, 0, 0));

  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, 0, 2023, 2023, PM_NOREMOVE));
  EXPECT_EQ(msg.wParam, 4u);
  std::vector<UINT> order;
  while (GetMessageA(&msg, 0, 0, 0)) {
    order.push_back(msg.message);
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  EXPECT_EQ(order, (std::vector<UINT>{WM_USER, WM_USER + 1, 2023, WM_USER + 2}));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 9u);
  ASSERT_EQ(seen.size(), 2u);  // the thread message has no window to go to
  EXPECT_EQ(seen[1].message, 2023u);
  EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
}

TEST_F(Messaging, SendMessageFromAnotherThreadCarriesCopyDataAndItsResult) {
  const HWND hwnd = window("w");
  EXPECT_EQ(SendMessageA(hwnd, WM_USER, 21, 0), 42);  // same thread: called directly

  LRESULT copyResult = 0;
  LRESULT plainResult = 0;
  std::thread sender([&] {
    const char text[] = "2000";
    COPYDATASTRUCT data;
    data.dwData = 100;
    data.cbData = 4;
    data.lpData = const_cast<char*>(text);
    copyResult = SendMessageA(hwnd, WM_COPYDATA, 0x1234, reinterpret_cast<LPARAM>(&data));
    plainResult = SendMessageA(hwnd, WM_USER, 5, 0);
    PostMessageA(hwnd, WM_USER + 9, 0, 0);
  });
  MSG msg;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE) && msg.message == WM_USER + 9) break;
    std::this_thread::sleep_for(1ms);
  }
  sender.join();
  EXPECT_EQ(copyResult, 104);
  EXPECT_EQ(plainResult, 10);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen[1].message, WM_COPYDATA);
  EXPECT_EQ(seen[1].wParam, 0x1234u);
  EXPECT_EQ(SendMessageA(0x7FFFFFF0, WM_USER, 1, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(Messaging, TimersFireOnTheVirtualClock) {
  const HWND hwnd = window("w");
  ASSERT_EQ(SetTimer(hwnd, 1, 250, nullptr), 1u);
  ASSERT_EQ(SetTimer(hwnd, 2, 1000, nullptr), 2u);
  std::vector<std::pair<std::uint32_t, WPARAM>> fired;
  MSG msg;
  while (fired.size() < 5 && GetMessageA(&msg, 0, 0, 0)) {
    ASSERT_EQ(msg.message, WM_TIMER);
    fired.emplace_back(clock.tickCountMs(), msg.wParam);
  }
  EXPECT_EQ(fired, (std::vector<std::pair<std::uint32_t, WPARAM>>{
                       {250, 1}, {500, 1}, {750, 1}, {1000, 1}, {1000, 2}}));
  EXPECT_TRUE(KillTimer(hwnd, 1));
  EXPECT_FALSE(KillTimer(hwnd, 1));
  ASSERT_TRUE(GetMessageA(&msg, 0, 0, 0));
  EXPECT_EQ(msg.wParam, 2u);
  EXPECT_EQ(clock.tickCountMs(), 2000u);
  EXPECT_TRUE(DestroyWindow(hwnd));  // its timers go with it
  EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
}

TEST_F(Messaging, MailslotReadsTakeWholeMessages) {
  const char* name = "\\\\.\\mailslot\\palvik\\CHIPHOST\\Master";
  HANDLE slot = CreateMailslotA(name, 0x8000, 0, nullptr);
  ASSERT_NE(slot, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateMailslotA(name, 0x8000, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(CreateFileA("\\\\.\\mailslot\\palvik\\none", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);

  HANDLE writer = CreateFileA("\\\\.\\MAILSLOT\\PALVIK\\chiphost\\master", GENERIC_WRITE,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  BYTE notice[20] = {1, 2, 3};
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(writer, notice, 13, &n, nullptr));
  ASSERT_TRUE(WriteFile(writer, notice, 20, &n, nullptr));

  BYTE in[13] = {};
  ASSERT_TRUE(ReadFile(slot, in, sizeof in, &n, nullptr));
  EXPECT_EQ(n, 13u);
  EXPECT_EQ(in[2], 3);
  EXPECT_FALSE(ReadFile(slot, in, sizeof in, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  BYTE big[32];
  ASSERT_TRUE(ReadFile(slot, big, sizeof big, &n, nullptr));  // it waited for a bigger buffer
  EXPECT_EQ(n, 20u);
  EXPECT_FALSE(ReadFile(slot, in, sizeof in, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_SEM_TIMEOUT);

  EXPECT_TRUE(CloseHandle(slot));
  EXPECT_FALSE(WriteFile(writer, notice, 13, &n, nullptr));
  EXPECT_TRUE(CloseHandle(writer));
  EXPECT_FALSE(CloseHandle(writer));
  EXPECT_FALSE(ReadFile(writer, in, sizeof in, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(Messaging, StaleMailslotAndMappingOfADeadProcessDoNotBlock) {
  // What a crashed server leaves: a socket nobody reads, a mapping nobody holds.
  const auto slots = dir.path() / "run" / "mailslots";
  std::filesystem::create_directories(slots);
  { Fd left = bindSocket(slots / "PALVIK%5CCHIPHOST%5CMASTER", SOCK_DGRAM); }
  const auto objects = dir.path() / "run" / "objects";
  std::filesystem::create_directories(objects);
  std::ofstream(objects / "CHIPHOSTM0001000200000001.map") << "old";

  HANDLE slot = CreateMailslotA("\\\\.\\mailslot\\palvik\\CHIPHOST\\Master", 0x8000, 0, nullptr);
  EXPECT_NE(slot, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "CHIPHOSTM0001000200000001"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  std::ofstream(objects / "CHIPHOSTM0001000200000001.map") << "old";
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 60000,
                                      "CHIPHOSTM0001000200000001");
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[0], 0);
  EXPECT_EQ(view[59999], 0);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  CloseHandle(slot);
  EXPECT_FALSE(std::filesystem::exists(objects / "CHIPHOSTM0001000200000001.map"));
}

TEST_F(Messaging, NamedMappingIsSharedUntilTheLastHandleCloses) {
  HANDLE a = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 60000, "M1");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  HANDLE b = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, "m1");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  auto* va = static_cast<char*>(MapViewOfFile(a, FILE_MAP_ALL_ACCESS, 0, 0, 60000));
  auto* vb = static_cast<char*>(MapViewOfFile(b, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_TRUE(va && vb);
  std::strcpy(va + 59990, "reply");
  EXPECT_STREQ(vb + 59990, "reply");
  EXPECT_EQ(MapViewOfFile(a, FILE_MAP_ALL_ACCESS, 0, 0, 60001), nullptr);
  CloseHandle(a);
  EXPECT_STREQ(vb + 59990, "reply");  // a view outlives its handle
  HANDLE c = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "M1");
  EXPECT_NE(c, nullptr);
  CloseHandle(b);
  CloseHandle(c);
  EXPECT_TRUE(UnmapViewOfFile(va));
  EXPECT_TRUE(UnmapViewOfFile(vb));
  EXPECT_FALSE(UnmapViewOfFile(vb));
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "M1"), nullptr);
}

TEST_F(Messaging, AutoResetEventsPulseOneWaiterAndSetStays) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, "SCARDEV0001000200000001");
  ASSERT_NE(event, nullptr);
  EXPECT_TRUE(PulseEvent(event));  // nobody waits: nothing is kept
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(event));  // kept for the next waiter, once
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 10), WAIT_TIMEOUT);

  HANDLE other = OpenEventA(EVENT_ALL_ACCESS, FALSE, "scardev0001000200000001");
  ASSERT_NE(other, nullptr);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(other, 3000) == WAIT_OBJECT_0) ++woken;
    });
  }
  std::this_thread::sleep_for(100ms);  // both are waiting by now
  EXPECT_TRUE(PulseEvent(event));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(woken.load(), 1);
  EXPECT_TRUE(PulseEvent(event));
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woken.load(), 2);
  EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, "manual"), nullptr);
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  CloseHandle(other);
  CloseHandle(event);
}

TEST(MessagingCommandLine, WordsAndPrograms) {
  EXPECT_EQ(splitCommandLine("CHIPHOST.EXE 10 65538"),
            (std::vector<std::string>{"CHIPHOST.EXE", "10", "65538"}));
  EXPECT_EQ(splitCommandLine("  \"C:\\Program Files\\x.exe\"\t\"\" a"),
            (std::vector<std::string>{"C:\\Program Files\\x.exe", "", "a"}));
  EXPECT_TRUE(splitCommandLine("   ").empty());

  TempDir dir;
  const auto system32 = dir.path() / "drive_c" / "windows" / "system32";
  std::filesystem::create_directories(system32);
  std::ofstream(system32 / "chiphost32") << "#!/bin/sh\n";
  std::filesystem::permissions(system32 / "chiphost32", std::filesystem::perms::owner_all);
  const Prefix prefix(dir.path());
  EXPECT_EQ(findProgram("CHIPHOST32.EXE", prefix), system32 / "chiphost32");
  EXPECT_EQ(findProgram("chiphost32", prefix), system32 / "chiphost32");
  EXPECT_FALSE(findProgram("CHIPHOST.EXE", prefix));
  EXPECT_FALSE(findProgram("", prefix));
}

}  // namespace
}  // namespace k52::win32

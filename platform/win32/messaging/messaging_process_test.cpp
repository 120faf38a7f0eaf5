// Windows, messages and kernel objects between real processes of a prefix.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/win32/messaging/kernel.h"
#include "platform/win32/messaging/test_peer_process.h"
#include "platform/win32/messaging/user.h"
#include "platform/win32/test_temp_dir.h"

namespace k52::win32 {
namespace {

using namespace std::chrono_literals;

constexpr UINT kQuit = WM_USER + 2;

// Waits (bounded) until `done` holds, pumping this thread's messages.
template <typename Done>
bool pumpUntil(Done done, std::chrono::milliseconds timeout = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MSG msg;
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    std::this_thread::sleep_for(2ms);
  }
  return done();
}

class MessagingProcesses : public ::testing::Test {
 protected:
  void SetUp() override { attach(Prefix(dir.path())); }
  void TearDown() override { detach(); }

  TempDir dir;
};

TEST_F(MessagingProcesses, AChildsWindowIsFoundAndAnswersCopyData) {
  PeerProcess peer(dir.path(), {"window", "CHIPHOST"});
  auto printed = peer.readLine();
  ASSERT_TRUE(printed);
  const HWND hwnd = FindWindowA("CHIPHOST", nullptr);
  ASSERT_EQ(std::to_string(hwnd), *printed);
  DWORD pid = 0;
  EXPECT_NE(GetWindowThreadProcessId(hwnd, &pid), 0u);
  EXPECT_EQ(pid, static_cast<DWORD>(peer.pid()));
  char title[16];
  EXPECT_EQ(GetWindowTextA(hwnd, title, sizeof title), 4);
  EXPECT_STREQ(title, "peer");

  // A block as big as the server's shared memory travels whole.
  std::vector<BYTE> block(60000, 1);
  COPYDATASTRUCT data;
  data.dwData = 7;
  data.cbData = static_cast<DWORD>(block.size());
  data.lpData = block.data();
  EXPECT_EQ(SendMessageA(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 60007);

  EXPECT_TRUE(PostMessageA(hwnd, kQuit, 0, 0));
  EXPECT_EQ(peer.wait(), 0);
  EXPECT_FALSE(IsWindow(hwnd));  // a process that ends takes its windows along
  EXPECT_EQ(FindWindowA("CHIPHOST", nullptr), 0u);
}

LRESULT answerProc(HWND, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_COPYDATA) return 0;
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  return static_cast<LRESULT>(data->dwData) + 55 + static_cast<LRESULT>(data->cbData);
}

TEST_F(MessagingProcesses, AChildSendsCopyDataToThisProcessWhileItPumps) {
  WNDCLASSA wc;
  wc.lpfnWndProc = answerProc;
  wc.lpszClassName = "CHIPHOSTCLIENT";
  ASSERT_NE(RegisterClassA(&wc), 0);
  ASSERT_NE(CreateWindowA("CHIPHOSTCLIENT", "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr), 0u);
  PeerProcess peer(dir.path(), {"send", "CHIPHOSTCLIENT", "abc"});
  std::optional<std::string> printed;
  ASSERT_TRUE(pumpUntil([&] { return (printed = peer.readLine(1ms)).has_value(); }));
  EXPECT_EQ(*printed, "1058");  // dwData 1000 + 55 + 3 bytes
}

TEST_F(MessagingProcesses, AKilledProcessLeavesNothingInTheWay) {
  PeerProcess server(dir.path(), {"window", "CHIPHOST"});
  ASSERT_TRUE(server.readLine());
  const HWND hwnd = FindWindowA("CHIPHOST", nullptr);
  ASSERT_NE(hwnd, 0u);
  PeerProcess objects(dir.path(), {"objects", "palvik\\CHIPHOST\\Master"});
  ASSERT_EQ(objects.readLine(), "ready");

  server.kill();
  objects.kill();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(FindWindowA("CHIPHOST", nullptr), 0u);
  EXPECT_EQ(SendMessageA(hwnd, WM_USER, 0, 0), 0);

  // A new server takes the class, the mailslot and the names again.
  PeerProcess next(dir.path(), {"window", "CHIPHOST"});
  ASSERT_TRUE(next.readLine());
  EXPECT_NE(FindWindowA("CHIPHOST", nullptr), 0u);
  HANDLE slot = CreateMailslotA("\\\\.\\mailslot\\palvik\\CHIPHOST\\Master", 0x8000, 0, nullptr);
  EXPECT_NE(slot, INVALID_HANDLE_VALUE);
  const char* name = "palvik\\CHIPHOST\\Master";
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);  // made anew, not the dead one's "stale"
  auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[0], 0);
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);  // not the dead one's signalled state
  UnmapViewOfFile(view);
  CloseHandle(event);
  CloseHandle(mapping);
  CloseHandle(slot);
}

TEST_F(MessagingProcesses, MailslotNoticesAreReadThirteenBytesAtATime) {
  const char* name = "\\\\.\\mailslot\\palvik\\CHIPHOST\\Master";
  HANDLE slot = CreateMailslotA(name, 0x8000, 0, nullptr);
  ASSERT_NE(slot, INVALID_HANDLE_VALUE);
  PeerProcess peer(dir.path(), {"notices", name});
  ASSERT_EQ(peer.readLine(), "written");
  BYTE notice[13];
  DWORD n = 0;
  for (BYTE i = 1; i <= 3; ++i) {
    ASSERT_TRUE(ReadFile(slot, notice, sizeof notice, &n, nullptr));
    EXPECT_EQ(n, 13u);
    EXPECT_EQ(notice[12], i);
  }
  // The server stops draining at the first read that is not 13 bytes.
  EXPECT_FALSE(ReadFile(slot, notice, sizeof notice, &n, nullptr));
  CloseHandle(slot);
}

TEST_F(MessagingProcesses, SharedMemoryRequestIsAnsweredThroughThePulsedEvent) {
  const char* name = "\\\\.\\mailslot\\palvik\\CHIPHOST\\Master";
  HANDLE slot = CreateMailslotA(name, 0x8000, 0, nullptr);
  ASSERT_NE(slot, INVALID_HANDLE_VALUE);
  PeerProcess client(dir.path(), {"request", name, "0001000200000001"});

  BYTE notice[13];
  DWORD n = 0;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!ReadFile(slot, notice, sizeof notice, &n, nullptr)) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    std::this_thread::sleep_for(2ms);
  }
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "M0001000200000001");
  ASSERT_NE(mapping, nullptr);
  auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 60000));
  ASSERT_NE(view, nullptr);
  EXPECT_STREQ(view, "request");
  std::strcpy(view, "reply");
  UnmapViewOfFile(view);
  CloseHandle(mapping);

  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, "E0001000200000001");
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  // The client may not be waiting yet; a pulse then is lost, as on the
  // platform, so pulse until it answers.
  std::optional<std::string> printed;
  while (!printed && std::chrono::steady_clock::now() < deadline) {
    PulseEvent(event);
    printed = client.readLine(20ms);
  }
  EXPECT_EQ(printed, "reply");
  CloseHandle(event);
  CloseHandle(slot);
}

TEST_F(MessagingProcesses, WinExecStartsAProgramOfThePrefix) {
  const std::filesystem::path peer = K52_MESSAGING_PEER;
  ::setenv("K52_PROGRAM_PATH", peer.parent_path().c_str(), 1);
  const std::string command = peer.filename().string() + ".EXE window CHIPHOST";
  EXPECT_GT(WinExec(command.c_str(), SW_SHOWNA), 31u);
  EXPECT_EQ(WinExec("NOSUCHPROGRAM.EXE 10 1", SW_SHOWNA), ERROR_FILE_NOT_FOUND);
  ::unsetenv("K52_PROGRAM_PATH");
  HWND hwnd = 0;
  EXPECT_TRUE(pumpUntil([&] { return (hwnd = FindWindowA("CHIPHOST", nullptr)) != 0; }));
  EXPECT_TRUE(PostMessageA(hwnd, kQuit, 0, 0));
  EXPECT_TRUE(pumpUntil([&] { return !IsWindow(hwnd); }));
}

}  // namespace
}  // namespace k52::win32

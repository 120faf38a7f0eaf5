// The client role's failures against stand-in servers in this process, the
// answers every channel window gives, and how deep the server role nests its
// jobs.
#include "chiphost/channel/wmc.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "platform/win32/messaging/kernel.h"
#include "platform/win32/messaging/user.h"
#include "platform/win32/test_temp_dir.h"

namespace k52::chiphost {
namespace {

using namespace std::chrono_literals;
using namespace win32;

LRESULT oldServer(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kMsgVersion) return 0x01000001;
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

class ClientRole : public ::testing::Test {
 protected:
  void SetUp() override {
    attach(Prefix(dir.path()));
    ::setenv("K52_PROGRAM_PATH", programs.path().c_str(), 1);
    savedPath_ = ::getenv("PATH") ? ::getenv("PATH") : "";
    ::setenv("PATH", programs.path().c_str(), 1);
  }
  void TearDown() override {
    ::setenv("PATH", savedPath_.c_str(), 1);
    ::unsetenv("K52_PROGRAM_PATH");
    detach();
  }

  // A server window of this thread with `proc`, and its mailslot if asked.
  void fakeServer(WNDPROC proc, bool mailslot) {
    WNDCLASSA wc;
    wc.lpfnWndProc = proc;
    wc.lpszClassName = "CHIPHOST";
    ASSERT_NE(RegisterClassA(&wc), 0);
    ASSERT_NE(CreateWindowA("CHIPHOST", "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr), 0u);
    if (mailslot) {
      slot_ = CreateMailslotA(serverMailslotName(kChannelName).c_str(), 0, 0, nullptr);
      ASSERT_NE(slot_, INVALID_HANDLE_VALUE);
    }
  }

  // A program the client can start that never makes a server window.
  void idleProgram(const char* name) {
    const auto path = programs.path() / name;
    std::ofstream(path) << "#!/bin/sh\nexit 0\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  }

  TempDir dir, programs;
  HANDLE slot_ = nullptr;
  std::string savedPath_;
  const ServerStart quick{true, 300ms};
};

TEST_F(ClientRole, FailuresOfFindingOrStartingTheServer) {
  TWmc client(WmcRole::Client);
  EXPECT_EQ(client.connect(quick), kServerNotStarted);  // no program of that name
  idleProgram("chipho32");
  EXPECT_EQ(client.connect(quick), kServerNotUp);
  EXPECT_EQ(client.connect({false, 300ms}), kServerNotStarted);  // "CHIPHOST" is not there
}

TEST_F(ClientRole, AServerWithoutMailslotOrOfAnotherVersionIsRefused) {
  fakeServer(oldServer, false);
  TWmc client(WmcRole::Client);
  EXPECT_EQ(client.connect(quick), kNoServerMailslot);
  slot_ = CreateMailslotA(serverMailslotName(kChannelName).c_str(), 0, 0, nullptr);
  ASSERT_NE(slot_, INVALID_HANDLE_VALUE);
  EXPECT_EQ(client.connect(quick), kIncompatibleServer);
  CloseHandle(slot_);
}

TEST_F(ClientRole, ASecondServerEndpointIsRefused) {
  TWmc first(WmcRole::Server);
  ASSERT_EQ(first.createServer(), 0);
  TWmc second(WmcRole::Server);
  EXPECT_EQ(second.createServer(), kSecondInstance);

  // Both roles answer the handshake; a client accepts a reply with 55.
  TWmc client(WmcRole::Client);
  ASSERT_EQ(client.connect(quick), 0);
  EXPECT_TRUE(client.compatible());
  EXPECT_EQ(SendMessageA(client.window(), kMsgVersion, 0, 0), static_cast<LRESULT>(kVersionAnswer));
  std::uint8_t reply[] = {1, 2, 3};
  COPYDATASTRUCT cds;
  cds.dwData = 77;
  cds.cbData = sizeof reply;
  cds.lpData = reply;
  EXPECT_EQ(
      SendMessageA(client.window(), WM_COPYDATA, first.window(), reinterpret_cast<LPARAM>(&cds)),
      kReplyAccepted);
  EXPECT_EQ(client.takeReply(76), std::nullopt);
  EXPECT_EQ(client.takeReply(77), (std::vector<std::uint8_t>{1, 2, 3}));
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, client.window(), kMsgReplyQueued, kMsgReplyQueued, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 77u);
}

TEST(ServerRole, JobsNestAtMostFiveDeep) {
  TempDir dir;
  attach(Prefix(dir.path()));
  TWmc server(WmcRole::Server);
  ASSERT_EQ(server.createServer(), 0);
  // Each job's handler serves the next one, as a command does whose reader
  // wait pumps messages.
  std::vector<std::uint32_t> depths;
  server.setJobHandler([&](TSrvJob&) {
    depths.push_back(server.runningDepth());
    server.serveOneJob();
  });
  std::uint8_t request[] = {0};
  COPYDATASTRUCT cds;
  cds.cbData = sizeof request;
  cds.lpData = request;
  for (int i = 0; i < 7; ++i)
    SendMessageA(server.window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
  server.serveOneJob();
  EXPECT_EQ(depths, (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(server.queuedJobs(), 2u);
  EXPECT_EQ(server.runningDepth(), 0u);
  // Once the nest has unwound, the rest are served.
  depths.clear();
  server.serveOneJob();
  EXPECT_EQ(depths, (std::vector<std::uint32_t>{1, 2}));
  EXPECT_EQ(server.queuedJobs(), 0u);
  detach();
}

}  // namespace
}  // namespace k52::chiphost

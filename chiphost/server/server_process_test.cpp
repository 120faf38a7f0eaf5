// The server program with real client processes: single instance, sessions
// by thread and handle, clients that die, idle exit, refused requests and
// both transports.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "chiphost/client/client.h"
#include "chiphost/testing/child_program.h"
#include "platform/win32/messaging/kernel.h"
#include "platform/win32/messaging/user.h"
#include "platform/win32/test_temp_dir.h"

namespace k52::chiphost {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

const std::filesystem::path kBin = K52_CHIPHOST_BIN_DIR;

std::string text(const ClientReply& r) {
  return {r.data.begin(), r.data.end()};
}

std::size_t lines(const std::string& s) {
  std::size_t n = 0;
  for (std::size_t at = 0; (at = s.find("\r\n", at)) != std::string::npos; at += 2) ++n;
  return n;
}

class ServerPrefix : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("K52_PROGRAM_PATH", kBin.c_str(), 1);
    win32::attach(win32::Prefix(dir.path()));
  }
  void TearDown() override {
    killServer();
    win32::detach();
  }

  std::unique_ptr<ChildProgram> program(const std::string& name, std::vector<std::string> args) {
    return std::make_unique<ChildProgram>(kBin / name, std::move(args), dir.path(), out.path());
  }

  win32::TempDir dir, out;
};

class ServerProcess : public ServerPrefix, public ::testing::WithParamInterface<Transport> {
 protected:
  ClientOptions options() const {
    ClientOptions o;
    o.transport = GetParam();
    o.replyTimeout = 10s;
    return o;
  }
};

INSTANTIATE_TEST_SUITE_P(Transports, ServerProcess,
                         ::testing::Values(Transport::CopyData, Transport::SharedMemory),
                         [](const auto& info) {
                           return info.param == Transport::CopyData ? "CopyData" : "SharedMemory";
                         });

TEST_P(ServerProcess, AClientStartsTheServerAndSessionsAreFoundByThreadOrHandle) {
  Client client(options());
  const ClientReply first = client.request("System,Info,Handle");
  ASSERT_EQ(first.result, 0) << text(first);
  EXPECT_TRUE(client.compatible());
  const std::string handle = text(first);
  EXPECT_EQ(handle, std::to_string(first.handle));

  // Handle 0 from the same thread reaches the session of that thread, also
  // from another window of it.
  EXPECT_EQ(text(client.request("System,Info,Handle", {}, 0)), handle);
  Client sameThread(options());
  EXPECT_EQ(text(sameThread.request("System,Info,Handle")), handle);
  EXPECT_NE(sameThread.window(), client.window());
  // -1 always makes a new one, and the handles go on counting.
  const ClientReply fresh = client.request("System,Info,Handle", {}, -1);
  EXPECT_EQ(fresh.handle, first.handle + 1);
  EXPECT_EQ(text(client.request("System,Info,Handle", {}, -1)), std::to_string(first.handle + 2));
  // A positive handle picks its session; the session keeps its language.
  ASSERT_EQ(client.request("System,SetLng,ENGLISH", {}, fresh.handle).result, 0);
  EXPECT_EQ(text(client.request("System,Info,Lng", {}, fresh.handle)), "ENGLISH");
  EXPECT_EQ(text(client.request("System,Info,Lng", {}, first.handle)), "GERMAN");
  EXPECT_EQ(lines(text(client.request("System,TaskList"))), 3u);
  // Destroy ends a session at once; its reply still names it.
  EXPECT_EQ(client.request("System,Destroy", {}, first.handle + 2).handle, first.handle + 2);
  EXPECT_EQ(lines(text(client.request("System,TaskList", {}, first.handle))), 2u);

  // A failure gives its code; the data block travels.
  EXPECT_EQ(client.request("System,Foo").result, 0x1200);
  const ClientReply wrapped = client.request("System,GenCryptKey,DES", Bytes(8, 0x11));
  EXPECT_EQ(wrapped.result, 0);
  EXPECT_EQ(wrapped.data.size(), 8u);
}

TEST_P(ServerProcess, TaskListNamesTheFirstVisibleUnownedWindowOfTheClientThread) {
  win32::WNDCLASSA wc;
  wc.lpfnWndProc = win32::DefWindowProcA;
  wc.lpszClassName = "APP";
  win32::RegisterClassA(&wc);
  auto make = [](const char* title, win32::DWORD style, win32::HWND owner) {
    return win32::CreateWindowA("APP", title, style, 0, 0, 0, 0, owner, nullptr, nullptr, nullptr);
  };
  Client client(options());
  EXPECT_EQ(text(client.request("System,TaskList")), "-,\r\n");
  const win32::HWND editor = make("Editor", win32::WS_VISIBLE, 0);
  make("Owned", win32::WS_VISIBLE, editor);  // above it, but owned
  make("Hidden", 0, 0);                      // on top, but not visible
  EXPECT_EQ(text(client.request("System,TaskList")), "Editor,\r\n");
}

TEST_P(ServerProcess, AWrongFunctionCodeGetsTheBareHeader) {
  Client client(options());
  ASSERT_EQ(client.connect(), 0);
  const std::string command = "System,Info";
  const Bytes block = encodeRequest(
      {}, 0, {reinterpret_cast<const std::uint8_t*>(command.data()), command.size()}, {}, 1999);
  Bytes reply;
  ASSERT_EQ(client.exchange(block, reply), 0);
  ASSERT_EQ(reply.size(), kHeaderSize);
  const BlockHeader head = readHeader(reply);
  EXPECT_EQ(head.length, kHeaderSize);
  if (GetParam() == Transport::SharedMemory) {
    EXPECT_EQ(head.kind, kKindSharedReply);
    EXPECT_EQ(head.id1, client.window());
  }
  // No session was made for it.
  EXPECT_EQ(lines(text(client.request("System,TaskList"))), 1u);
}

TEST_P(ServerProcess, AClientThatDiesLosesItsSessionAtTheNextPollingPass) {
  Client client(options());
  std::vector<std::pair<unsigned, std::uint32_t>> notices;
  constexpr win32::UINT kMessage = 0x7F00;
  client.setObserver([&](const win32::MSG& m) {
    if (m.message == kMessage)
      notices.emplace_back(static_cast<unsigned>(m.wParam), static_cast<std::uint32_t>(m.lParam));
  });
  ASSERT_EQ(client.connect(), 0);
  const std::string registration =
      "System,AddHWndMsg," + std::to_string(client.window()) + "," + std::to_string(kMessage);
  ASSERT_EQ(client.request(registration).result, 0);
  ASSERT_EQ(client.request(registration).result, 0);  // still one registration
  client.pump(600ms);
  // With no reader the state is "error": 100 once, no reader in the low word.
  ASSERT_EQ(notices, (std::vector<std::pair<unsigned, std::uint32_t>>{{100, 0xFFFF}}));
  notices.clear();

  auto other = program("chipctl", {"--watch-seconds", "30", "System,Create"});
  ASSERT_TRUE(other->waitForOutput("Handle="));
  EXPECT_EQ(lines(text(client.request("System,TaskList"))), 2u);
  other->kill();
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (std::count(notices.begin(), notices.end(),
                    std::pair<unsigned, std::uint32_t>{310, 0xFFFF}) < 2 &&
         std::chrono::steady_clock::now() < deadline) {
    client.pump(50ms);
  }
  // 310 for the new session, 310 for its end; nothing else changed for us.
  EXPECT_EQ(notices,
            (std::vector<std::pair<unsigned, std::uint32_t>>{{310, 0xFFFF}, {310, 0xFFFF}}));
  EXPECT_EQ(lines(text(client.request("System,TaskList"))), 1u);
}

TEST_P(ServerProcess, ALongMessageInTheServerMailslotDoesNotBlockLaterRequests) {
  Client client(options());
  ASSERT_EQ(client.request("System,Info,Handle").result, 0);
  win32::HANDLE slot =
      win32::CreateFileA(serverMailslotName(kChannelName).c_str(), win32::GENERIC_WRITE,
                         win32::FILE_SHARE_READ, nullptr, win32::OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(slot, win32::INVALID_HANDLE_VALUE);
  const Bytes junk(100, 0x01);
  win32::DWORD written = 0;
  ASSERT_TRUE(win32::WriteFile(slot, junk.data(), static_cast<win32::DWORD>(junk.size()), &written,
                               nullptr));
  win32::CloseHandle(slot);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(client.request("System,Info,Lng").result, 0);
}

using ServerProgram = ServerPrefix;

TEST_F(ServerProgram, ASecondInstanceEndsAtOnce) {
  auto first = program("chiphost", {});
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (win32::FindWindowA("CHIPHOST", nullptr) == 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(5ms);
  ASSERT_NE(win32::FindWindowA("CHIPHOST", nullptr), 0u);
  auto second = program("chiphost", {"0"});
  EXPECT_EQ(second->wait(5s), 1);
  EXPECT_FALSE(first->wait(0ms).has_value()) << "the first one runs on";
}

TEST_F(ServerProgram, EndsAboutOneSecondAfterItsIdleLimit) {
  const auto started = std::chrono::steady_clock::now();
  auto server = program("chiphost", {"1"});
  EXPECT_EQ(server->wait(10s), 0);
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, 2s);
  EXPECT_LT(took, 4s);
}

TEST_F(ServerProgram, TellsItsLauncherWhenItIsUp) {
  win32::WNDCLASSA wc;
  wc.lpfnWndProc = win32::DefWindowProcA;
  wc.lpszClassName = "LAUNCHER";
  win32::RegisterClassA(&wc);
  const win32::HWND launcher =
      win32::CreateWindowA("LAUNCHER", "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
  auto server = program("chiphost", {"0", std::to_string(launcher)});
  win32::MSG msg;
  bool up = false;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!up && std::chrono::steady_clock::now() < deadline) {
    while (win32::PeekMessageA(&msg, 0, 0, 0, win32::PM_REMOVE))
      up = up || (msg.hwnd == launcher && msg.message == kMsgServerUp);
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_TRUE(up);
  win32::DestroyWindow(launcher);
}

}  // namespace
}  // namespace k52::chiphost

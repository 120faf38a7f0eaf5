// The server in this process on the virtual clock: idle exit, and the
// command line.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <optional>
#include <thread>

#include "chiphost/server/busy_cursor.h"
#include "chiphost/server/command_line.h"
#include "chiphost/server/server.h"
#include "platform/win32/messaging/user.h"
#include "platform/win32/test_temp_dir.h"

namespace k52::chiphost {
namespace {

using namespace std::chrono_literals;
using win32::HWND;

class ServerOnVirtualClock : public ::testing::Test {
 protected:
  void SetUp() override { win32::attach(win32::Prefix(dir.path()), clock); }
  void TearDown() override { win32::detach(); }

  // Runs a server with `idleLimit` on its own thread; the virtual time at
  // which its loop ended.
  std::future<Duration> start(std::int32_t idleLimit) {
    return std::async(std::launch::async, [this, idleLimit] {
      Server server({idleLimit, 0}, ErrorTexts{});
      EXPECT_EQ(server.run(), 0);
      return clock.now();
    });
  }

  win32::TempDir dir;
  VirtualClock clock;
};

TEST_F(ServerOnVirtualClock, EndsWhenTheIdleCountPassesTheLimit) {
  auto ended = start(2);
  ASSERT_EQ(ended.wait_for(20s), std::future_status::ready);
  // Three idle seconds exceed a limit of 2; the loop ends at the next
  // message, the poll timer's at the latest.
  const auto at = ended.get();
  EXPECT_GE(at, 3000ms);
  EXPECT_LE(at, 3250ms);
}

TEST_F(ServerOnVirtualClock, AClientWindowKeepsItRunning) {
  win32::WNDCLASSA wc;
  wc.lpfnWndProc = win32::DefWindowProcA;
  wc.lpszClassName = "CHIPHOSTCLIENT";
  ASSERT_NE(win32::RegisterClassA(&wc), 0);
  const HWND client =
      win32::CreateWindowA("CHIPHOSTCLIENT", "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(client, 0u);
  auto ended = start(2);
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (clock.now() < 6s && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  ASSERT_EQ(ended.wait_for(0s), std::future_status::timeout) << "ended with a client window";
  // The server's time runs on while this thread works: the window goes at
  // some moment between these two readings.
  const Duration before = clock.now();
  win32::DestroyWindow(client);
  const Duration after = clock.now();
  ASSERT_EQ(ended.wait_for(20s), std::future_status::ready);
  const Duration end = ended.get();
  EXPECT_GT(end - before, 2s);
  EXPECT_LE(end - after, 4250ms);
}

TEST_F(ServerOnVirtualClock, BusyCursorStepsEvery100MsWhileShown) {
  std::optional<BusyCursor> cursor(std::in_place);
  cursor->show();
  const HWND window = cursor->window();
  ASSERT_EQ(win32::FindWindowA("SCARDCURSOR", "SmartCard"), window);
  EXPECT_TRUE(win32::IsWindowVisible(window));
  EXPECT_EQ(cursor->cursor(), "C1");
  for (const char* expected : {"C2", "C3", "C4", "C1"}) {
    win32::MSG msg;
    ASSERT_TRUE(win32::GetMessageA(&msg, 0, 0, 0));
    win32::DispatchMessageA(&msg);
    EXPECT_EQ(cursor->cursor(), expected);
  }
  EXPECT_EQ(clock.now(), 400ms);

  cursor->hide();
  EXPECT_FALSE(win32::IsWindowVisible(window));
  clock.advance(1s);
  win32::MSG msg;
  EXPECT_FALSE(win32::PeekMessageA(&msg, 0, 0, 0, win32::PM_REMOVE)) << "no step while hidden";
  cursor->show();
  EXPECT_EQ(cursor->cursor(), "C1");
  EXPECT_EQ(cursor->window(), window);
  cursor.reset();
  EXPECT_FALSE(win32::IsWindow(window));
}

TEST(ServerCommandLine, ParametersAsTheClientsWriteThem) {
  struct Case {
    std::vector<std::string> args;
    std::int32_t idleLimit;
    HWND launcher;
    std::optional<std::string> prefix;
  };
  const Case cases[] = {
      {{}, 0, 0, std::nullopt},
      {{"10", "65537"}, 10, 65537, std::nullopt},
      {{"--prefix", "/p", "0"}, 0, 0, "/p"},
      {{"5x", "-3"}, 5, 0, std::nullopt},
      {{"abc", "12", "more"}, 0, 12, std::nullopt},
      {{"99999999999"}, 0x7FFFFFFF, 0, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto parsed = parseServerCommandLine(c.args);
    EXPECT_EQ(parsed.options.idleLimit, c.idleLimit) << testing::PrintToString(c.args);
    EXPECT_EQ(parsed.options.launcher, c.launcher) << testing::PrintToString(c.args);
    EXPECT_EQ(parsed.prefix, c.prefix) << testing::PrintToString(c.args);
  }
  EXPECT_TRUE(parseServerCommandLine({"--help"}).help);
  EXPECT_THROW(parseServerCommandLine({"--prefix"}), std::invalid_argument);
  EXPECT_THROW(parseServerCommandLine({"--bogus"}), std::invalid_argument);
}

}  // namespace
}  // namespace k52::chiphost

// The server's loop on the test's own thread, on the virtual clock. A test's
// steps run inside the loop, each as the handling of a message to a window of
// the test, so they meet the server between two messages, where a reader wait
// that pumps messages will meet it. Requests go in as WM_COPYDATA from the
// test's windows and are served at once; the replies come back to them.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "chiphost/readers/basic_reader_host.h"
#include "chiphost/readers/driver_channel.h"
#include "chiphost/server/server.h"
#include "platform/win32/comm/comm.h"
#include "platform/win32/comm/device.h"
#include "platform/win32/comm/simulated_comm_line.h"
#include "platform/win32/messaging/user.h"
#include "platform/win32/test_temp_dir.h"
#include "sim/fnx/fnx_line_device.h"
#include "sim/fnx/sharing_driver.h"

namespace k52::chiphost {

void PrintTo(const Reply& reply, std::ostream* out) {
  *out << "{result 0x" << std::hex << reply.result << std::dec << ", handle " << reply.handle
       << ", " << reply.data.size() << " bytes}";
}

namespace {

using namespace std::chrono_literals;
using namespace win32;

constexpr UINT kStep = 0x7F01;
constexpr UINT_PTR kStepTimer = 1;

// Ends by its idle check two seconds after its start: the test's windows
// are of another class than the server's clients.
const ServerOptions kEndsWhenIdle{1, 0};

// Stands in for the reader layer: a reader wait inside every Device, Card and
// Apps command, where the reader list is made sure of.
class ServerWithReaderWait : public Server {
 public:
  using Server::Server;
  void loadReaderList() override {
    Server::loadReaderList();
    readerWait();
  }
  std::function<void()> readerWait = [] {};
};

struct Step {
  Duration at;  // the virtual time the step waits for
  std::function<void()> run;
};

std::string text(const Reply& reply) {
  return {reply.data.begin(), reply.data.end()};
}

class ServerOnThisThread : public ::testing::Test {
 protected:
  void SetUp() override {
    attach(Prefix(dir.path()), clock);
    current_ = this;
    WNDCLASSA wc;
    wc.lpfnWndProc = testWindowProc;
    wc.lpszClassName = "TESTCLIENT";
    ASSERT_NE(RegisterClassA(&wc), 0);
  }
  void TearDown() override {
    current_ = nullptr;
    detach();
  }

  HWND makeWindow() {
    return CreateWindowA("TESTCLIENT", "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
  }

  // Runs `server` until its idle exit, with the steps run in order inside its
  // loop, each once its time has come.
  void run(Server& server, std::vector<Step> steps) {
    server_ = &server;
    steps_ = std::move(steps);
    stepWindow_ = makeWindow();
    PostMessageA(stepWindow_, kStep, 0, 0);
    EXPECT_EQ(server.run(), 0);
    EXPECT_EQ(nextStep_, steps_.size()) << "the server ended before the last step";
  }

  // Queues a request from `window`; the job number its reply will carry.
  std::uint32_t send(HWND window, std::string_view command, std::int32_t handle) {
    const auto block = encodeRequest(
        {}, handle, {reinterpret_cast<const std::uint8_t*>(command.data()), command.size()}, {});
    COPYDATASTRUCT cds;
    cds.cbData = static_cast<DWORD>(block.size());
    cds.lpData = const_cast<std::uint8_t*>(block.data());
    return static_cast<std::uint32_t>(SendMessageA(FindWindowA("CHIPHOST", nullptr), WM_COPYDATA,
                                                   window, reinterpret_cast<LPARAM>(&cds)));
  }

  // The reply to job `job`; a failure of the test when none or a bare header
  // came.
  Reply reply(std::uint32_t job) {
    const auto block = replies_.find(job);
    if (block == replies_.end()) {
      ADD_FAILURE() << "no reply to job " << job;
      return {kNoReply, 0, {}};
    }
    const auto read = readReply(block->second);
    if (!read) ADD_FAILURE() << "job " << job << " was answered with the bare header";
    return read.value_or(Reply{kNoReply, 0, {}});
  }

  // A request from `window`, served at once.
  Reply request(HWND window, std::string_view command, std::int32_t handle) {
    const std::uint32_t job = send(window, command, handle);
    server_->serveQueuedJob();
    return reply(job);
  }

  std::size_t replyCount() const { return replies_.size(); }

  TempDir dir;
  VirtualClock clock;

 private:
  void nextStep() {
    Step& step = steps_[nextStep_++];
    step.run();
    if (nextStep_ == steps_.size()) return;
    const Duration wait = steps_[nextStep_].at - clock.now();
    if (wait <= 0ms) {
      PostMessageA(stepWindow_, kStep, 0, 0);
    } else {
      SetTimer(stepWindow_, kStepTimer,
               static_cast<UINT>(std::chrono::ceil<std::chrono::milliseconds>(wait).count()),
               nullptr);
    }
  }

  static LRESULT testWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ServerOnThisThread* test = current_;
    if (test != nullptr && hwnd == test->stepWindow_ &&
        (message == kStep || (message == WM_TIMER && wParam == kStepTimer))) {
      KillTimer(hwnd, kStepTimer);
      test->nextStep();
      return 0;
    }
    if (test != nullptr && message == WM_COPYDATA) {
      const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      const auto* bytes = static_cast<const std::uint8_t*>(cds->lpData);
      test->replies_[static_cast<std::uint32_t>(cds->dwData)].assign(bytes, bytes + cds->cbData);
      return kReplyAccepted;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }

  static ServerOnThisThread* current_;
  Server* server_ = nullptr;
  std::vector<Step> steps_;
  std::size_t nextStep_ = 0;
  HWND stepWindow_ = 0;
  std::map<std::uint32_t, std::vector<std::uint8_t>> replies_;
};

ServerOnThisThread* ServerOnThisThread::current_ = nullptr;

std::vector<std::uint32_t> registeredWindows(Server& server) {
  std::vector<std::uint32_t> windows;
  for (const Session* session : server.sessions())
    for (const auto& r : session->registrations) windows.push_back(r.window);
  return windows;
}

TEST_F(ServerOnThisThread, TwoClientsNeverShareASessionHandle) {
  Server server(kEndsWhenIdle, ErrorTexts("[ENGLISH]\n1008=No reader\n"));
  const HWND first = makeWindow(), second = makeWindow();
  auto sessions = [&] {
    EXPECT_EQ(request(first, "System,SetLng,ENGLISH", 3).handle, 3);
    // The request for 3 advanced the counter as well.
    EXPECT_EQ(request(second, "System,Create", -1).handle, 2);
    const std::int32_t next = request(second, "System,Create", -1).handle;
    EXPECT_EQ(next, 4);
    EXPECT_EQ(text(request(second, "System,Info,Lng", next)), "GERMAN");
    EXPECT_EQ(text(request(first, "System,Info,Lng", 3)), "ENGLISH");
    EXPECT_EQ(server.sessions().size(), 3u);
  };
  run(server, {{0ms, sessions}});
}

TEST_F(ServerOnThisThread, AFailureOutsideTheInterpreterEndsTheRequestWith0x2000) {
  ServerWithReaderWait server(kEndsWhenIdle, ErrorTexts{});
  const HWND client = makeWindow();
  auto failingCommands = [&] {
    const std::int32_t handle = request(client, "System,Create", -1).handle;
    server.readerWait = [] { throw std::bad_alloc(); };
    // More than the four commands that may run at once: none stays counted.
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(request(client, "Device,List", handle), (Reply{0x2000, handle, {}}));
    server.readerWait = [] {};
    EXPECT_EQ(request(client, "Device,List", handle), (Reply{0, handle, {}}));
  };
  run(server, {{0ms, failingCommands}});
}

TEST_F(ServerOnThisThread, ARegistrationWhoseWindowWasDestroyedGoesAtTheNextPollingPass) {
  Server server(kEndsWhenIdle, ErrorTexts{});
  const HWND client = makeWindow(), gone = makeWindow(), kept = makeWindow();
  auto registerTwoAndDestroyOne = [&] {
    const std::int32_t handle = request(client, "System,Create", -1).handle;
    for (HWND w : {gone, kept})
      request(client, "System,AddHWndMsg," + std::to_string(w) + ",1025", handle);
    DestroyWindow(gone);
    EXPECT_EQ(registeredWindows(server), (std::vector<std::uint32_t>{gone, kept}));
  };
  auto afterTheFirstPass = [&] {
    EXPECT_EQ(registeredWindows(server), (std::vector<std::uint32_t>{kept}));
    EXPECT_EQ(server.sessions().size(), 1u) << "the session itself stays";
  };
  // The first timer pass is due at 250 ms.
  run(server, {{0ms, registerTwoAndDestroyOne}, {300ms, afterTheFirstPass}});
}

TEST_F(ServerOnThisThread, MessageDriverTransferRunsAPollingPassAtOnce) {
  Server server(kEndsWhenIdle, ErrorTexts{});
  const HWND client = makeWindow();
  auto closeTheClientAndPost2023 = [&] {
    request(client, "System,Create", -1);
    DestroyWindow(client);
    PostThreadMessageA(GetCurrentThreadId(), kMsgDriverTransfer, 0, 0);
  };
  // Handled after message 2023, long before the first timer pass.
  auto next = [&] {
    EXPECT_TRUE(server.sessions().empty()) << "the pass ended the session";
    EXPECT_EQ(clock.now(), 0ms);
  };
  run(server, {{0ms, closeTheClientAndPost2023}, {0ms, next}});
}

TEST_F(ServerOnThisThread, MessageDriverTransferMakesReadersOnTheChannelReadTheirStatus) {
  Server server(kEndsWhenIdle, ErrorTexts{});
  auto line = std::make_shared<SimulatedCommLine>(clock);
  auto driver = std::make_shared<sim::SharingDriver>(line, 4, clock);
  sim::FnxLineDevice reader(line, {});
  registerDevice("pvkms.Vxd", driver);
  DriverChannel::instance().start();
  BasicReaderHost host;
  ReaderAttachment card(host, 4, 0);
  unsigned before = 0;
  auto attachAndPost2023 = [&] {
    card.Attach(0);
    card.CardPresent();
    before = reader.firmware().executions().at("status");
    PostThreadMessageA(GetCurrentThreadId(), kMsgDriverTransfer, 0, 0);
  };
  auto next = [&] {
    card.CardPresent();
    EXPECT_EQ(reader.firmware().executions().at("status"), before + 1);
  };
  run(server, {{0ms, attachAndPost2023}, {0ms, next}});
  DriverChannel::instance().stop();
  registerDevice("pvkms.Vxd", nullptr);
}

TEST_F(ServerOnThisThread, AtMostFourCommandsRunNestedInReaderWaits) {
  ServerWithReaderWait server(kEndsWhenIdle, ErrorTexts{});
  int nested = 0, deepest = 0;
  server.readerWait = [&] {
    deepest = std::max(deepest, ++nested);
    server.serveQueuedJob();
    --nested;
  };
  const HWND client = makeWindow();
  auto sixCommands = [&] {
    std::vector<std::uint32_t> jobs;
    for (int i = 0; i < 6; ++i) jobs.push_back(send(client, "Device,List", 0));
    server.serveQueuedJob();
    EXPECT_EQ(deepest, 4);
    EXPECT_EQ(replyCount(), 4u) << "two jobs wait until the four are done";
    server.serveQueuedJob();
    EXPECT_EQ(deepest, 4);
    for (std::uint32_t job : jobs) EXPECT_EQ(reply(job).result, 0);
  };
  run(server, {{0ms, sixCommands}});
}

}  // namespace
}  // namespace k52::chiphost

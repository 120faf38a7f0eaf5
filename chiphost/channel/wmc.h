// `TWmc`: the channel endpoint of the card server's client protocol, in the
// server role (a hidden window of class "CHIPHOST" and the server mailslot,
// taking requests into a job queue and sending the replies) and in the client
// role (a window of class "CHIPHOSTCLIENT", finding or starting the server,
// the version handshake, requests by WM_COPYDATA or by shared memory).
//
// Every channel window of the process has the same window procedure; it finds
// its endpoint through the process-wide list of `TWinListEntry`.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "chiphost/channel/protocol.h"
#include "chiphost/channel/srv_job.h"
#include "platform/win32/messaging/types.h"

namespace k52::chiphost {

enum class WmcRole : std::uint8_t { Server, Client };

class TWmc;

struct TWinListEntry {
  win32::HWND window = 0;
  TWmc* endpoint = nullptr;
};

// How a client starts the server when no server window exists.
struct ServerStart {
  // On Windows NT the program name is the channel name with its last two
  // characters replaced by "32" ("CHIPHO32"), else the channel name.
  bool windowsNt = true;
  // How long to wait for the started server's window.
  std::chrono::milliseconds upTimeout{10000};
};

// The program a client starts: name, ".EXE 10 " and the client window.
std::string serverCommandLine(std::string_view channel, bool windowsNt, win32::HWND clientWindow);

class TWmc {
 public:
  using JobHandler = std::function<void(TSrvJob&)>;

  explicit TWmc(WmcRole role, std::string name = std::string(kChannelName));
  ~TWmc();
  TWmc(const TWmc&) = delete;
  TWmc& operator=(const TWmc&) = delete;

  WmcRole role() const { return role_; }
  const std::string& name() const { return name_; }
  win32::HWND window() const { return window_; }
  win32::HWND peer() const { return peer_; }
  bool compatible() const { return compatible_; }

  // --- server role ---------------------------------------------------------

  // Registers the class, makes the hidden window and the server mailslot.
  // 0, kSecondInstance or kNoServerWindow.
  std::int32_t createServer();
  void setJobHandler(JobHandler handler) { handler_ = std::move(handler); }
  // Drains the mailslot into the queue, runs the first queued job and sends
  // its reply. Does nothing when 5 jobs are already running here.
  void serveOneJob();
  std::size_t queuedJobs() const { return jobs_.size(); }
  std::uint32_t runningDepth() const { return depth_; }

  // --- client role ---------------------------------------------------------

  // Makes the own window when it is missing, finds or starts the server,
  // opens its mailslot and, for a server just found, shakes hands.
  // 0 or one of the channel's negative results.
  std::int32_t connect(const ServerStart& start);
  // Sends a request block by WM_COPYDATA. The job number, under which the
  // reply will arrive, or 0 when the server did not take it.
  std::uint32_t sendRequest(std::span<const std::uint8_t> block);
  // The reply to job `jobNumber` once it has arrived (taken off the queue).
  std::optional<std::vector<std::uint8_t>> takeReply(std::uint32_t jobNumber);
  // A request through shared memory: writes the block (kind 1, the own
  // window and `requestNumber`), the notice, and waits for the reply event
  // at most `timeout`. 0 with the reply block, or a negative result.
  std::int32_t sharedMemoryRequest(std::span<const std::uint8_t> block, std::uint32_t requestNumber,
                                   std::chrono::milliseconds timeout,
                                   std::vector<std::uint8_t>& reply);

  // The common window procedure's work for this endpoint's window.
  win32::LRESULT handleMessage(win32::HWND hwnd, win32::UINT message, win32::WPARAM wParam,
                               win32::LPARAM lParam);

 private:
  bool createWindow(const std::string& className);
  void destroyWindow();
  void drainMailslot();
  void sendReply(TSrvJob& job);
  std::int32_t findOrStartServer(const ServerStart& start, bool& justFound);

  WmcRole role_;
  std::string name_;
  win32::HWND window_ = 0;
  win32::HWND peer_ = 0;
  win32::HANDLE ownMailslot_ = nullptr;
  win32::HANDLE peerMailslot_ = nullptr;
  std::deque<std::unique_ptr<TSrvJob>> jobs_;
  std::uint32_t nextJobNumber_ = 0;
  std::uint32_t depth_ = 0;
  JobHandler handler_;
  bool compatible_ = false;
  bool serverUp_ = false;  // 0x610 arrived
};

}  // namespace k52::chiphost

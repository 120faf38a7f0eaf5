// The channel endpoint in both roles.
#include "chiphost/channel/wmc.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/diag/debug_log.h"
#include "platform/win32/messaging/kernel.h"
#include "platform/win32/messaging/user.h"

namespace k52::chiphost {

using namespace win32;

namespace {

constexpr std::uint32_t kMaxRunningDepth = 4;
constexpr std::size_t kRequestMax = 0xFFFF;

// The process-wide list of channel windows.
std::mutex& listMutex() {
  static std::mutex m;
  return m;
}
std::vector<TWinListEntry>& winList() {
  static auto* list = new std::vector<TWinListEntry>;
  return *list;
}

TWmc* endpointOf(HWND hwnd) {
  std::lock_guard lock(listMutex());
  for (const auto& e : winList())
    if (e.window == hwnd) return e.endpoint;
  return nullptr;
}

LRESULT channelWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (TWmc* endpoint = endpointOf(hwnd))
    return endpoint->handleMessage(hwnd, message, wParam, lParam);
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A kernel handle that closes itself.
struct Handle {
  HANDLE h = nullptr;
  ~Handle() {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  explicit operator bool() const { return h != nullptr && h != INVALID_HANDLE_VALUE; }
};

}  // namespace

std::string serverCommandLine(std::string_view channel, bool windowsNt, HWND clientWindow) {
  std::string program(channel);
  if (windowsNt && program.size() >= 2) program.replace(program.size() - 2, 2, "32");
  return program + ".EXE 10 " + std::to_string(clientWindow);
}

TSrvJob::~TSrvJob() {
  if (view != nullptr) UnmapViewOfFile(view);
  if (mapping != nullptr) CloseHandle(mapping);
}

TWmc::TWmc(WmcRole role, std::string name) : role_(role), name_(std::move(name)) {}

TWmc::~TWmc() {
  if (ownMailslot_ != nullptr) CloseHandle(ownMailslot_);
  if (peerMailslot_ != nullptr) CloseHandle(peerMailslot_);
  destroyWindow();
}

bool TWmc::createWindow(const std::string& className) {
  WNDCLASSA wc;
  wc.lpfnWndProc = channelWindowProc;
  wc.lpszClassName = className.c_str();
  RegisterClassA(&wc);  // already registered by another endpoint of this process: fine
  window_ = CreateWindowExA(0, className.c_str(), name_.c_str(), 0, 0, 0, 0, 0, 0, nullptr, nullptr,
                            nullptr);
  if (window_ == 0) return false;
  std::lock_guard lock(listMutex());
  winList().push_back({window_, this});
  return true;
}

void TWmc::destroyWindow() {
  if (window_ == 0) return;
  {
    std::lock_guard lock(listMutex());
    std::erase_if(winList(), [&](const TWinListEntry& e) { return e.window == window_; });
  }
  DestroyWindow(window_);
  window_ = 0;
}

LRESULT TWmc::handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kMsgVersion:
      return kVersionAnswer;
    case kMsgFeatures:
      return kFeaturesAnswer;
    case kMsgServerUp:
      serverUp_ = true;
      return 0;
    case WM_COPYDATA: {
      const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (cds == nullptr) return 0;
      auto job = std::make_unique<TSrvJob>();
      const auto* bytes = static_cast<const std::uint8_t*>(cds->lpData);
      const std::size_t size = bytes == nullptr ? 0 : cds->cbData;
      if (role_ == WmcRole::Server) {
        job->clientWindow = static_cast<std::uint32_t>(wParam);
        job->jobNumber = ++nextJobNumber_;
        job->request.assign(bytes, bytes + std::min(size, kRequestMax));
        const std::uint32_t number = job->jobNumber;
        jobs_.push_back(std::move(job));
        PostThreadMessageA(GetCurrentThreadId(), kMsgJobQueued, 0, 0);
        return static_cast<LRESULT>(number);
      }
      job->jobNumber = static_cast<std::uint32_t>(cds->dwData);
      job->reply.assign(bytes, bytes + size);
      jobs_.push_back(std::move(job));
      PostMessageA(window_, kMsgReplyQueued, cds->dwData, 0);
      return kReplyAccepted;
    }
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

// --- server role -------------------------------------------------------------

std::int32_t TWmc::createServer() {
  if (FindWindowA(name_.c_str(), nullptr) != 0) return kSecondInstance;
  if (!createWindow(name_)) return kNoServerWindow;
  peer_ = window_;
  ownMailslot_ =
      CreateMailslotA(serverMailslotName(name_).c_str(), kServerMailslotMaxMessage, 0, nullptr);
  if (ownMailslot_ == INVALID_HANDLE_VALUE) {
    // Another server made its mailslot first: it is the one instance.
    ownMailslot_ = nullptr;
    destroyWindow();
    return kNoServerWindow;
  }
  return 0;
}

void TWmc::drainMailslot() {
  if (ownMailslot_ == nullptr) return;
  for (;;) {
    std::uint8_t notice[kNoticeSize];
    DWORD read = 0;
    if (!ReadFile(ownMailslot_, notice, sizeof notice, &read, nullptr)) {
      // A message longer than a notice would stay in front of every later
      // notice: take it off, drop it and read on.
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
      std::vector<std::uint8_t> junk(kServerMailslotMaxMessage);
      if (!ReadFile(ownMailslot_, junk.data(), static_cast<DWORD>(junk.size()), &read, nullptr))
        return;
      continue;
    }
    if (read != kNoticeSize) return;
    const BlockHeader head = readHeader(notice);
    auto job = std::make_unique<TSrvJob>();
    job->mapping =
        OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, sharedMemoryName(head.id1, head.id2).c_str());
    if (job->mapping == nullptr) continue;  // the client gave up meanwhile
    job->view = MapViewOfFile(job->mapping, FILE_MAP_ALL_ACCESS, 0, 0, kSharedMemorySize);
    if (job->view == nullptr) continue;
    const auto* shared = static_cast<const std::uint8_t*>(job->view);
    const std::size_t length = std::min<std::size_t>(head.length & 0xFFFF, kSharedMemorySize);
    job->request.assign(shared, shared + length);
    const BlockHeader own = readHeader(job->request);
    const BlockHeader& ids = own.kind == kKindSharedRequest ? own : head;
    job->kind = ids.kind;
    job->clientWindow = ids.id1;
    job->jobNumber = ids.id2;
    jobs_.push_back(std::move(job));
  }
}

void TWmc::serveOneJob() {
  if (depth_ > kMaxRunningDepth || !handler_) return;
  drainMailslot();
  if (jobs_.empty()) return;
  std::unique_ptr<TSrvJob> job = std::move(jobs_.front());
  jobs_.pop_front();
  ++depth_;
  try {
    handler_(*job);
  } catch (...) {
    // The reply goes out in every case, with what the handler left. Nothing
    // here allocates: the failure may be memory running out.
    diag::debugLog("chiphost channel job handler", diag::currentExceptionText());
  }
  --depth_;
  sendReply(*job);
}

void TWmc::sendReply(TSrvJob& job) {
  if (job.reply.size() < kHeaderSize) job.reply.resize(kHeaderSize);
  if (job.kind == kKindSharedRequest) {
    job.kind = kKindSharedReply;
    const std::size_t length = std::min(job.reply.size(), kSharedMemorySize);
    writeHeader(std::span<std::uint8_t, kHeaderSize>(job.reply.data(), kHeaderSize),
                {job.kind, static_cast<std::uint32_t>(length), job.clientWindow, job.jobNumber});
    std::memcpy(job.view, job.reply.data(), length);
    UnmapViewOfFile(job.view);
    job.view = nullptr;
    CloseHandle(job.mapping);
    job.mapping = nullptr;
    // The client waits on this auto-reset event, but it may not be waiting
    // yet when the reply is written: a pulse would then be lost. Setting it
    // wakes the waiter, or stays set until the client comes to wait.
    Handle event{CreateEventA(nullptr, FALSE, FALSE,
                              replyEventName(job.clientWindow, job.jobNumber).c_str())};
    if (event) SetEvent(event.h);
    return;
  }
  const BlockHeader request = readHeader(job.request);
  writeHeader(std::span<std::uint8_t, kHeaderSize>(job.reply.data(), kHeaderSize),
              {job.kind, static_cast<std::uint32_t>(job.reply.size()), request.id1, request.id2});
  COPYDATASTRUCT cds;
  cds.dwData = job.jobNumber;
  cds.cbData = static_cast<DWORD>(job.reply.size());
  cds.lpData = job.reply.data();
  // A reply the client does not accept (anything but 55) is dropped.
  SendMessageA(job.clientWindow, WM_COPYDATA, window_, reinterpret_cast<LPARAM>(&cds));
}

// --- client role -------------------------------------------------------------

std::int32_t TWmc::findOrStartServer(const ServerStart& start, bool& justFound) {
  const std::string serverClass = name_;
  if (peer_ != 0 && IsWindow(peer_)) return 0;
  justFound = true;
  if (peerMailslot_ != nullptr) {
    CloseHandle(peerMailslot_);
    peerMailslot_ = nullptr;
  }
  peer_ = FindWindowA(serverClass.c_str(), nullptr);
  if (peer_ != 0) return 0;
  serverUp_ = false;
  if (WinExec(serverCommandLine(name_, start.windowsNt, window_).c_str(), SW_SHOWNA) < 32)
    return kServerNotStarted;
  const auto deadline = std::chrono::steady_clock::now() + start.upTimeout;
  MSG msg;
  while (!serverUp_ && (peer_ = FindWindowA(serverClass.c_str(), nullptr)) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) return kServerNotUp;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (peer_ == 0) peer_ = FindWindowA(serverClass.c_str(), nullptr);
  return peer_ != 0 ? 0 : kServerNotUp;
}

std::int32_t TWmc::connect(const ServerStart& start) {
  if (window_ == 0 || !IsWindow(window_)) {
    window_ = 0;
    if (!createWindow(name_ + std::string(kClientClassSuffix))) return kNoClientWindow;
    ownMailslot_ = CreateMailslotA(clientMailslotName(name_, window_).c_str(), 0, 0, nullptr);
    if (ownMailslot_ == INVALID_HANDLE_VALUE) {
      ownMailslot_ = nullptr;
      destroyWindow();
      return kNoClientWindow;
    }
  }
  bool justFound = false;
  if (const std::int32_t r = findOrStartServer(start, justFound); r != 0) return r;
  if (peerMailslot_ == nullptr) {
    // A server makes its window before its mailslot: one that is just
    // starting gets the time it was given to come up.
    const auto deadline = std::chrono::steady_clock::now() + start.upTimeout;
    for (;;) {
      HANDLE slot = CreateFileA(serverMailslotName(name_).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (slot != INVALID_HANDLE_VALUE && slot != nullptr) {
        peerMailslot_ = slot;
        break;
      }
      if (!justFound || !IsWindow(peer_) || std::chrono::steady_clock::now() >= deadline) {
        peer_ = 0;  // found anew, with the handshake, next time
        return kNoServerMailslot;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  if (justFound) {
    const auto version = static_cast<std::uint32_t>(SendMessageA(peer_, kMsgVersion, 0, 0));
    if (HIWORD(version) != kProtocolVersion) {
      MessageBoxA(window_, "Incompatible driver version!", name_.c_str(), MB_OK | MB_ICONSTOP);
      peer_ = 0;
      return kIncompatibleServer;
    }
    compatible_ = SendMessageA(peer_, kMsgFeatures, 0, 0) == kFeaturesAnswer;
  }
  return 0;
}

std::uint32_t TWmc::sendRequest(std::span<const std::uint8_t> block) {
  COPYDATASTRUCT cds;
  cds.dwData = 0;
  cds.cbData = static_cast<DWORD>(block.size());
  cds.lpData = const_cast<std::uint8_t*>(block.data());
  return static_cast<std::uint32_t>(
      SendMessageA(peer_, WM_COPYDATA, window_, reinterpret_cast<LPARAM>(&cds)));
}

std::optional<std::vector<std::uint8_t>> TWmc::takeReply(std::uint32_t jobNumber) {
  const auto it = std::find_if(jobs_.begin(), jobs_.end(),
                               [&](const auto& job) { return job->jobNumber == jobNumber; });
  if (it == jobs_.end()) return std::nullopt;
  std::vector<std::uint8_t> reply = std::move((*it)->reply);
  jobs_.erase(it);
  return reply;
}

std::int32_t TWmc::sharedMemoryRequest(std::span<const std::uint8_t> block,
                                       std::uint32_t requestNumber,
                                       std::chrono::milliseconds timeout,
                                       std::vector<std::uint8_t>& reply) {
  if (block.size() < kHeaderSize || block.size() > kSharedMemorySize) return kNotDelivered;
  Handle mapping{CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                    kSharedMemorySize,
                                    sharedMemoryName(window_, requestNumber).c_str())};
  if (!mapping) return kNotDelivered;
  auto* shared = static_cast<std::uint8_t*>(
      MapViewOfFile(mapping.h, FILE_MAP_ALL_ACCESS, 0, 0, kSharedMemorySize));
  if (shared == nullptr) return kNotDelivered;
  // The event exists before the server can learn of the request.
  Handle event{CreateEventA(nullptr, FALSE, FALSE, replyEventName(window_, requestNumber).c_str())};
  std::int32_t result = kNotDelivered;
  if (event) {
    std::memcpy(shared, block.data(), block.size());
    const auto length = static_cast<std::uint32_t>(block.size());
    writeHeader(std::span<std::uint8_t, kHeaderSize>(shared, kHeaderSize),
                {kKindSharedRequest, length, window_, requestNumber});
    const auto notice = encodeNotice(length, window_, requestNumber);
    DWORD written = 0;
    if (WriteFile(peerMailslot_, notice.data(), kNoticeSize, &written, nullptr)) {
      // The server reads its mailslot whenever a message of its thread has
      // been handled; this one makes that happen now.
      PostMessageA(peer_, kMsgJobQueued, 0, 0);
      result = kNoReply;
      if (WaitForSingleObject(event.h, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0) {
        const BlockHeader head = readHeader({shared, kHeaderSize});
        const std::size_t size =
            std::clamp<std::size_t>(head.length, kHeaderSize, kSharedMemorySize);
        reply.assign(shared, shared + size);
        result = 0;
      }
    }
  }
  UnmapViewOfFile(shared);
  return result;
}

}  // namespace k52::chiphost

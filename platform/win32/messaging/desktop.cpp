#include "platform/win32/messaging/desktop.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "platform/win32/messaging/process_identity.h"

namespace k52::win32 {
namespace {

// A peer that stalls in the middle of a frame does not hold the listener up
// for longer than this.
constexpr int kPeerTimeoutMs = 2000;

std::mutex currentMutex;
Desktop* current = nullptr;
pid_t currentPid = 0;

void registerCleanup();

// Sockets left by processes that no longer run.
void removeDeadSockets(const std::filesystem::path& dir) {
  std::error_code ec;
  for (const auto& item : std::filesystem::directory_iterator(dir, ec)) {
    const auto stem = item.path().stem().string();
    if (item.path().extension() != ".sock") continue;
    const pid_t pid = static_cast<pid_t>(std::atol(stem.c_str()));
    if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH) {
      std::filesystem::remove(item.path(), ec);
    }
  }
}

// A process that ends normally takes its windows and socket with it.
void registerCleanup() {
  static const bool registered = [] {
    std::atexit([] { replaceDesktop(nullptr); });
    return true;
  }();
  (void)registered;
}

}  // namespace

std::string classKey(std::string_view name) {
  std::string key(name);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

Desktop::Desktop(Prefix prefix, Clock& clock)
    : prefix_(std::move(prefix)),
      clock_(clock),
      registry_(prefix_.runDir()),
      self_(ProcessIdentity::self()) {
  const auto procs = prefix_.runDir() / "procs";
  std::filesystem::create_directories(procs);
  removeDeadSockets(procs);
  const auto path = socketOf(self_.pid);
  std::error_code ignored;
  std::filesystem::remove(path, ignored);  // a dead process of the same id
  listener_ = bindSocket(path, SOCK_STREAM);
  if (!listener_ || ::listen(listener_.get(), 64) != 0) {
    throw std::system_error(errno, std::generic_category(), "listen on " + path.string());
  }
  listenThread_ = std::thread([this] { listen(); });
}

Desktop::~Desktop() {
  for (const auto& [hwnd, window] : windows_) registry_.remove(hwnd);
  ::shutdown(listener_.get(), SHUT_RDWR);
  if (listenThread_.joinable()) listenThread_.join();
  std::error_code ignored;
  std::filesystem::remove(socketOf(self_.pid), ignored);
}

std::filesystem::path Desktop::socketOf(pid_t pid) const {
  return prefix_.runDir() / "procs" / (std::to_string(pid) + ".sock");
}

std::optional<LocalWindow> Desktop::localWindow(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it == windows_.end()) return std::nullopt;
  return it->second;
}

std::shared_ptr<ThreadQueue> Desktop::queueOf(DWORD tid) {
  std::lock_guard lock(mutex_);
  auto& queue = queues_[tid];
  if (!queue) queue = std::make_shared<ThreadQueue>(clock_);
  return queue;
}

void Desktop::listen() {
  for (;;) {
    Fd connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // shut down
    }
    serve(std::move(connection));
  }
}

void Desktop::serve(Fd connection) {
  setSocketTimeouts(connection.get(), kPeerTimeoutMs);
  std::array<std::uint8_t, wire::kHeaderSize> header;
  if (!readExactly(connection.get(), header.data(), header.size())) return;
  auto decoded = wire::decodeHeader(header);
  if (!decoded) return;
  wire::Frame frame = std::move(decoded->frame);
  frame.payload.resize(decoded->payloadLength);
  if (!readExactly(connection.get(), frame.payload.data(), frame.payload.size())) return;

  std::shared_ptr<ThreadQueue> queue;
  if (frame.kind == wire::Kind::PostThread) {
    if (processOfThread(frame.target) == self_.pid) queue = queueOf(frame.target);
  } else if (auto window = localWindow(frame.target)) {
    queue = queueOf(window->entry.tid);
  }
  if (!queue) {
    auto reply = wire::encodeReply({false, 0});
    writeAll(connection.get(), reply.data(), reply.size());
    return;
  }
  if (frame.kind == wire::Kind::Send) {
    // The owning thread answers when it gets to the message.
    queue->pushSend(IncomingSend{std::move(frame), connection.release()});
    return;
  }
  MSG msg;
  msg.hwnd = frame.kind == wire::Kind::Post ? frame.target : 0;
  msg.message = frame.message;
  msg.wParam = static_cast<WPARAM>(frame.wParam);
  msg.lParam = static_cast<LPARAM>(frame.lParam);
  queue->post(msg);
  auto reply = wire::encodeReply({true, 0});
  writeAll(connection.get(), reply.data(), reply.size());
}

Desktop& desktop() {
  std::lock_guard lock(currentMutex);
  if (current != nullptr && currentPid != ::getpid()) {
    // A forked child: the parent's listener thread is not here, and its
    // windows are not ours. The parent still owns (and frees) that state.
    Prefix prefix = current->prefix();
    Clock& clock = current->clock();
    current = new Desktop(std::move(prefix), clock);
    currentPid = ::getpid();
  }
  if (current == nullptr) {
    registerCleanup();
    current = new Desktop(Prefix::fromEnvironment(), RealClock::instance());
    currentPid = ::getpid();
  }
  return *current;
}

void replaceDesktop(std::unique_ptr<Desktop> next) {
  registerCleanup();
  std::unique_ptr<Desktop> old;
  {
    std::lock_guard lock(currentMutex);
    if (current != nullptr && currentPid == ::getpid()) old.reset(current);
    current = next.release();
    currentPid = ::getpid();
  }
  // The old state goes after the new one is in place: its listener may be
  // serving a connection that looks the current state up.
}

}  // namespace k52::win32

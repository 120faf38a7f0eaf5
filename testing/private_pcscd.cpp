#include "testing/private_pcscd.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <winscard.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace k52::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kVpcdDriver = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";
constexpr const char* kReaderName = "Virtual PCD";
constexpr auto kTermGrace = 5s;
// varnel's unload alone waits some 6 s.
constexpr auto kHandlerTermGrace = 20s;

std::atomic<bool> instanceAlive{false};

// The same directory name for every instance of this process: it holds the
// socket, whose path the client library remembers.
const fs::path& processDir() {
  static const fs::path dir = [] {
    std::string pattern = (fs::temp_directory_path() / "k52-pcscd-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    fs::remove(pattern);
    return fs::path(pattern);
  }();
  return dir;
}

bool tcpPortFree(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  const bool free = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return free;
}

// Two adjacent free ports below the kernel's ephemeral range, so outgoing
// connections made meanwhile cannot take them.
std::uint16_t freePortPair() {
  std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
  std::uniform_int_distribution<int> pick(20000, 32000);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto port = static_cast<std::uint16_t>(pick(random) & ~1);
    if (tcpPortFree(port) && tcpPortFree(static_cast<std::uint16_t>(port + 1))) return port;
  }
  throw std::runtime_error("no free TCP port pair for vpcd");
}

bool listsReader(const std::string& name) {
  SCARDCONTEXT context;
  if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
    return false;
  }
  DWORD length = 0;
  bool found = false;
  if (SCardListReaders(context, nullptr, nullptr, &length) == SCARD_S_SUCCESS) {
    std::vector<char> names(length);
    if (SCardListReaders(context, nullptr, names.data(), &length) == SCARD_S_SUCCESS) {
      for (const char* n = names.data(); *n; n += std::char_traits<char>::length(n) + 1) {
        found = found || name == n;
      }
    }
  }
  SCardReleaseContext(context);
  return found;
}

}  // namespace

PrivatePcscd::PrivatePcscd(std::chrono::milliseconds timeout)
    : PrivatePcscd(PrivatePcscdOptions{.vpcd = true, .handler = std::nullopt, .timeout = timeout}) {
}

PrivatePcscd::PrivatePcscd(PrivatePcscdOptions options) : options_(std::move(options)) {
  if (instanceAlive.exchange(true)) {
    throw std::logic_error("one PrivatePcscd per process at a time");
  }
  active_ = true;
  try {
    start();
    waitUntilListed(options_.timeout);
  } catch (...) {
    stop();
    throw;
  }
}

PrivatePcscd::~PrivatePcscd() {
  stop();
}

void PrivatePcscd::start() {
  dir_ = processDir();
  if (!fs::create_directory(dir_)) throw std::runtime_error(dir_.string() + " already exists");
  fs::permissions(dir_, fs::perms::owner_all);
  fs::create_directory(dir_ / "run");
  socketPath_ = (dir_ / "pcscd.comm").string();
  std::ofstream config(dir_ / "reader.conf");
  if (options_.vpcd) {
    port_ = freePortPair();
    config << "FRIENDLYNAME \"" << kReaderName << "\"\n"
           << "DEVICENAME /dev/null:" << port_ << "\n"
           << "LIBPATH " << kVpcdDriver << "\n";
  }
  if (options_.handler) {
    config << "FRIENDLYNAME \"" << options_.handler->friendlyName << "\"\n"
           << "DEVICENAME " << fs::absolute(options_.handler->prefix).string() << "\n"
           << "LIBPATH " << fs::absolute(options_.handler->library).string() << "\n";
  }
  config.close();
  ::setenv("PCSCLITE_CSOCK_NAME", socketPath_.c_str(), 1);

  // Everything the child needs is prepared here: after fork only
  // async-signal-safe calls are allowed.
  std::vector<std::string> args{K52_PCSCD_LAUNCH_PATH,
                                "--socket",
                                socketPath_,
                                "--config",
                                (dir_ / "reader.conf").string(),
                                "--run-dir",
                                (dir_ / "run").string()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables = environment();
  std::vector<char*> envp;
  for (auto& v : variables) envp.push_back(v.data());
  envp.push_back(nullptr);
  const std::string logPath = (dir_ / "pcscd.log").string();
  const pid_t parent = ::getpid();

  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // The daemon must not outlive a test process that crashes or is killed.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    // A caller waiting for signals with sigwait() has them blocked; pcscd
    // has to see SIGTERM.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int null = ::open("/dev/null", O_RDONLY);
    if (log < 0 || null < 0) ::_exit(127);
    ::dup2(null, STDIN_FILENO);
    ::dup2(log, STDOUT_FILENO);
    ::dup2(log, STDERR_FILENO);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
}

std::vector<std::string> PrivatePcscd::environment() const {
  std::vector<std::string> variables;
  bool preload = false;
#ifdef K52_SANITIZER_RUNTIMES
  preload = options_.handler.has_value();
  if (preload) variables.emplace_back("LD_PRELOAD=" K52_SANITIZER_RUNTIMES);
#endif
  for (char** v = environ; *v; ++v) {
    const std::string_view variable(*v);
    if (!(preload && variable.starts_with("LD_PRELOAD="))) variables.emplace_back(variable);
  }
  return variables;
}

void PrivatePcscd::waitUntilListed(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const std::string reader = options_.handler ? handlerReaderName() : readerName(0);
  while (!listsReader(reader) || (options_.vpcd && !listsReader(readerName(0)))) {
    if (!running()) throw std::runtime_error("pcscd exited during start:\n" + log());
    if (std::chrono::steady_clock::now() >= deadline) {
      throw std::runtime_error("pcscd did not list " + reader + " in time:\n" + log());
    }
    std::this_thread::sleep_for(10ms);
  }
}

bool PrivatePcscd::running() {
  if (pid_ <= 0) return false;
  if (::waitpid(pid_, nullptr, WNOHANG) == 0) return true;
  pid_ = -1;  // reaped (or gone): never signal that number again
  return false;
}

void PrivatePcscd::stop() {
  if (running()) {
    ::kill(pid_, SIGTERM);
    const auto deadline =
        std::chrono::steady_clock::now() + (options_.handler ? kHandlerTermGrace : kTermGrace);
    while (running() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(5ms);
    }
    if (running()) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
  if (!dir_.empty()) {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
    dir_.clear();
  }
  if (active_) {
    active_ = false;
    instanceAlive = false;
  }
}

std::uint16_t PrivatePcscd::vpcdPort(int slot) const {
  return static_cast<std::uint16_t>(port_ + slot);
}

std::string PrivatePcscd::readerName(int slot) const {
  return std::string(kReaderName) + " 00 0" + std::to_string(slot);
}

std::string PrivatePcscd::handlerReaderName() const {
  return options_.handler ? options_.handler->friendlyName + " 00 00" : std::string();
}

unsigned long PrivatePcscd::waitForCard(const std::string& reader, bool present,
                                        std::chrono::milliseconds timeout) const {
  SCARDCONTEXT context;
  if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
    return 0;
  }
  SCARD_READERSTATE state{};
  state.szReader = reader.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (SCardGetStatusChange(context, 100, &state, 1) != SCARD_E_NO_SERVICE &&
         std::chrono::steady_clock::now() < deadline) {
    if (((state.dwEventState & SCARD_STATE_PRESENT) != 0) == present &&
        (present || (state.dwEventState & SCARD_STATE_EMPTY))) {
      break;
    }
    state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
  }
  SCardReleaseContext(context);
  return state.dwEventState;
}

std::string PrivatePcscd::log() const {
  std::ifstream in(dir_ / "pcscd.log");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace k52::testing

// k52-pcscd-launch: runs pcscd on a private socket, for tests and demos.
//
// pcscd only ever creates /run/pcscd/pcscd.comm itself, but it takes over a
// listening socket the way a service manager hands one over (LISTEN_FDS on
// fd 3 for its own pid). So this program binds the private socket, puts it on
// fd 3 and becomes pcscd. With --run-dir the daemon also gets its own
// /run/pcscd in a private mount namespace, so its pid file neither collides
// with another instance nor removes the system daemon's on exit.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: k52-pcscd-launch --socket PATH --config FILE [--run-dir DIR]\n"
    "                        [--pcscd PROGRAM] [-- PCSCD-ARGS...]\n"
    "Binds the unix socket PATH (which must not exist) and execs\n"
    "`pcscd -f -c FILE PCSCD-ARGS...` serving clients on it. Clients select it\n"
    "with PCSCLITE_CSOCK_NAME=PATH. --run-dir DIR stands in for /run/pcscd.\n";

constexpr const char* kSystemRunDir = "/run/pcscd";
constexpr int kActivationFd = 3;  // the first descriptor a service manager passes

struct Options {
  std::string socket;
  std::string config;
  std::string runDir;
  std::string pcscd = K52_PCSCD_PATH;
  std::vector<std::string> extra;
};

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "k52-pcscd-launch: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") {
      options.extra.assign(argv + i + 1, argv + argc);
      break;
    }
    if (i + 1 == argc) return false;
    const char* value = argv[++i];
    if (arg == "--socket") {
      options.socket = value;
    } else if (arg == "--config") {
      options.config = value;
    } else if (arg == "--run-dir") {
      options.runDir = value;
    } else if (arg == "--pcscd") {
      options.pcscd = value;
    } else {
      return false;
    }
  }
  return !options.socket.empty() && !options.config.empty();
}

void enterPrivateRunDir(const std::string& runDir) {
  if (::unshare(CLONE_NEWNS) != 0) {
    if (errno != EPERM) fail("unshare");
    // Unprivileged: the daemon shares /run/pcscd with any other instance.
    std::fprintf(stderr, "k52-pcscd-launch: no private mount namespace, sharing %s\n",
                 kSystemRunDir);
    return;
  }
  // Keep our bind mount from propagating back into the host's namespace.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail("mount private");
  if (::mkdir(kSystemRunDir, 0755) != 0 && errno != EEXIST) fail(kSystemRunDir);
  if (::mount(runDir.c_str(), kSystemRunDir, nullptr, MS_BIND, nullptr) != 0) fail(runDir);
}

void listenOnActivationFd(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    fail(path);
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) fail("socket");
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) fail(path);
  if (::listen(fd, SOMAXCONN) != 0) fail("listen");
  if (fd != kActivationFd) {
    if (::dup2(fd, kActivationFd) < 0) fail("dup2");
    ::close(fd);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  // pcscd resolves its configuration from elsewhere than our working directory.
  options.config = std::filesystem::absolute(options.config).string();
  if (!options.runDir.empty()) enterPrivateRunDir(options.runDir);
  listenOnActivationFd(options.socket);

  // pcscd checks LISTEN_PID against its own pid, which exec keeps.
  ::setenv("LISTEN_FDS", "1", 1);
  ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
  ::unsetenv("LISTEN_FDNAMES");

  std::vector<std::string> args{"pcscd", "-f", "-c", options.config};
  args.insert(args.end(), options.extra.begin(), options.extra.end());
  std::vector<char*> argvOut;
  for (auto& a : args) argvOut.push_back(a.data());
  argvOut.push_back(nullptr);
  ::execv(options.pcscd.c_str(), argvOut.data());
  fail(options.pcscd);
}

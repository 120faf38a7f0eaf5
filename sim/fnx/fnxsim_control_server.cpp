#include "sim/fnx/fnxsim_control_server.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <stdexcept>

namespace k52::sim {

bool applyFnxControl(const FnxControl& c, FnxFirmware& fw, SharingDriver* driver,
                     std::int32_t hostBaud, std::string& text) {
  using A = FnxControl::Action;
  if (c.slot >= fw.slotCount()) {
    text = "this reader has one slot";
    return false;
  }
  switch (c.action) {
    case A::kInsert:
      fw.insertCard(c.slot, std::make_shared<ContactCard>(makeCard(c.card)));
      break;
    case A::kPull:
      fw.pullCard(c.slot);
      break;
    case A::kDropAnswers:
      fw.faults().dropAnswers = c.count;
      break;
    case A::kDropCommands:
      fw.faults().dropCommands = c.count;
      break;
    case A::kGarble:
      fw.faults().garble = c.count;
      break;
    case A::kMute:
      if (c.unmute) {
        fw.faults().mute.reset();
      } else {
        fw.faults().mute = c.count;
      }
      break;
    case A::kShare:
      if (!driver) {
        text = "share needs --driver";
        return false;
      }
      driver->share(std::chrono::milliseconds(c.count));
      break;
    case A::kStatus:
      for (int slot = 0; slot < fw.slotCount(); ++slot) {
        text += "card" + std::to_string(slot + 1) + "=" + (fw.cardPresent(slot) ? "yes" : "no") +
                "\ncounter" + std::to_string(slot + 1) + "=" + std::to_string(fw.counter(slot)) +
                "\n";
      }
      text += "speed=" + std::to_string(fw.speed()) + "\nhost=" + std::to_string(hostBaud) + "\n";
      for (const auto& [name, n] : fw.executions()) {
        text += "runs." + name + "=" + std::to_string(n) + "\n";
      }
      return true;
  }
  text = "done\n";
  return true;
}

FnxControlServer::FnxControlServer(std::filesystem::path path, Handler handler)
    : path_(std::move(path)), handler_(std::move(handler)) {
  std::filesystem::create_directories(path_.parent_path());
  if (win32::Fd live = win32::connectSocket(path_, SOCK_STREAM)) {
    throw std::runtime_error("another fnxsim serves " + path_.string());
  }
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
  listener_ = win32::bindSocket(path_, SOCK_STREAM);
  if (!listener_ || ::listen(listener_.get(), 4) != 0) {
    throw std::runtime_error("cannot listen at " + path_.string());
  }
}

FnxControlServer::~FnxControlServer() {
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

void FnxControlServer::serve() {
  for (;;) {
    pollfd fd{listener_.get(), POLLIN, 0};
    if (::poll(&fd, 1, 0) <= 0) return;
    win32::Fd c(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!c) return;
    win32::setSocketTimeouts(c.get(), 1000);
    std::string line;
    char ch = 0;
    while (line.size() <= kMaxFnxControlLine && ::recv(c.get(), &ch, 1, 0) == 1 && ch != '\n') {
      line += ch;
    }
    std::string text;
    bool ok = false;
    auto parsed = parseFnxControlLine(line);
    if (auto* message = std::get_if<std::string>(&parsed)) {
      text = *message + "\n";
    } else {
      ok = handler_(line, text);
      if (!text.empty() && text.back() != '\n') text += '\n';
    }
    const std::string reply = (ok ? "ok\n" : "error\n") + text;
    win32::writeAll(c.get(), reply.data(), reply.size());
  }
}

FnxControlReply sendFnxControl(const std::filesystem::path& path, const std::string& line) {
  win32::Fd socket = win32::connectSocket(path, SOCK_STREAM);
  if (!socket) throw std::runtime_error("no fnxsim serves " + path.string());
  win32::setSocketTimeouts(socket.get(), 5000);
  const std::string request = line + "\n";
  if (!win32::writeAll(socket.get(), request.data(), request.size())) {
    throw std::runtime_error("the fnxsim at " + path.string() + " did not take the command");
  }
  std::string answer;
  char buffer[512];
  for (;;) {
    const ssize_t n = ::recv(socket.get(), buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  if (answer.starts_with("ok\n")) return {true, answer.substr(3)};
  if (answer.starts_with("error\n")) return {false, answer.substr(6)};
  throw std::runtime_error("the fnxsim at " + path.string() + " did not answer");
}

}  // namespace k52::sim

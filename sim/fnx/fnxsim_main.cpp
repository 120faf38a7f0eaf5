// fnxsim: an FNX card reader as a process of its own, on a pty or behind our
// serial-sharing driver, and the commands that act on a running one.
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string_view>
#include <vector>

#include "platform/text/hex.h"
#include "platform/win32/comm/device_socket.h"
#include "platform/win32/comm/simulated_comm_line.h"
#include "platform/win32/messaging/user.h"
#include "platform/win32/prefix.h"
#include "sim/fnx/fnx_line_device.h"
#include "sim/fnx/fnx_pty_server.h"
#include "sim/fnx/fnxsim_control_server.h"
#include "sim/fnx/fnxsim_options.h"
#include "sim/fnx/sharing_driver.h"

namespace {

using namespace std::chrono_literals;
using k52::sim::FnxFirmware;

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) {
  stopRequested = 1;
}

class Tracer {
 public:
  explicit Tracer(const std::optional<std::string>& path) {
    if (path) file_.open(*path, std::ios::out | std::ios::trunc);
  }
  bool on() const { return file_.is_open(); }
  void line(const std::string& text) {
    if (!on()) return;
    file_ << text << '\n';
    file_.flush();
  }
  void frame(const FnxFirmware::Trace& t, std::uint32_t hostBaud) {
    std::string text = t.fromHost ? "host " : "reader ";
    text += std::to_string(hostBaud);
    text += t.raw ? " raw " : (t.slot < 0 ? " slot ? " : " slot " + std::to_string(t.slot) + " ");
    text += k52::text::formatHex(t.bytes);
    if (t.fromHost && !t.raw) text += t.checksumOk ? " ok" : " bad";
    line(text);
  }

 private:
  std::ofstream file_;
};

void armFaults(FnxFirmware& fw, const k52::sim::FnxsimOptions& o, std::mt19937& random) {
  if (!o.faultSeed || o.faultRate <= 0) return;
  fw.beforeFrame = [&fw, &random, rate = o.faultRate] {
    if (std::uniform_real_distribution<double>(0, 1)(random) >= rate) return;
    switch (random() % 3) {
      case 0:
        fw.faults().dropAnswers = 1;
        break;
      case 1:
        fw.faults().dropCommands = 1;
        break;
      default:
        fw.faults().garble = 1;
        break;
    }
  };
}

void insertStartCards(FnxFirmware& fw, const k52::sim::FnxsimOptions& o) {
  for (int slot = 0; slot < 2; ++slot) {
    if (o.cards[slot] && slot < fw.slotCount()) {
      fw.insertCard(slot,
                    std::make_shared<k52::sim::ContactCard>(k52::sim::makeCard(*o.cards[slot])));
    }
  }
}

int serve(const k52::sim::FnxsimOptions& o, const k52::win32::Prefix& prefix,
          const std::filesystem::path& socketPath) {
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  Tracer tracer(o.trace);
  std::mt19937 random(o.faultSeed.value_or(0));

  if (o.driver == 0) {
    k52::sim::FnxPtyServer pty(o.config, o.link);
    FnxFirmware& fw = pty.firmware();
    fw.onTrace = [&](const FnxFirmware::Trace& t) { tracer.frame(t, pty.hostBaud()); };
    armFaults(fw, o, random);
    insertStartCards(fw, o);
    k52::sim::FnxControlServer control(socketPath, [&](const std::string& line, std::string& text) {
      auto c = std::get<k52::sim::FnxControl>(k52::sim::parseFnxControlLine(line));
      return k52::sim::applyFnxControl(c, fw, nullptr, static_cast<std::int32_t>(pty.hostBaud()),
                                       text);
    });
    std::printf("%s\n", o.link ? o.link->c_str() : pty.slavePath().c_str());
    std::fflush(stdout);
    while (!stopRequested) {
      pty.serveOnce(5ms);
      control.serve();
    }
    return 0;
  }

  // Behind the driver the reader sits on a simulated line in this process,
  // timed on the real clock.
  k52::win32::attach(prefix);
  auto line = std::make_shared<k52::win32::SimulatedCommLine>(k52::RealClock::instance());
  k52::sim::FnxLineDevice reader(line, o.config);
  FnxFirmware& fw = reader.firmware();
  fw.onTrace = [&](const FnxFirmware::Trace& t) { tracer.frame(t, line->hostFrame().baudRate); };
  armFaults(fw, o, random);
  insertStartCards(fw, o);
  auto driver = std::make_shared<k52::sim::SharingDriver>(
      line, o.driver, k52::RealClock::instance(),
      [&](const std::string& text) { tracer.line(text); });
  k52::win32::DeviceSocketServer device(k52::win32::deviceSocketPath(prefix, "pvkms.Vxd"), *driver);
  k52::sim::FnxControlServer control(socketPath, [&](const std::string& text, std::string& out) {
    auto c = std::get<k52::sim::FnxControl>(k52::sim::parseFnxControlLine(text));
    return k52::sim::applyFnxControl(c, fw, driver.get(),
                                     static_cast<std::int32_t>(line->hostFrame().baudRate), out);
  });
  std::printf("%s\n", k52::win32::deviceSocketPath(prefix, "pvkms.Vxd").c_str());
  std::fflush(stdout);
  while (!stopRequested) {
    device.serveOnce(1ms);
    line->run();
    driver->runDue();
    control.serve();
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  auto parsed = k52::sim::parseFnxsimOptions(args);
  if (auto* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "fnxsim: %s\n%s", error->c_str(), k52::sim::kFnxsimUsage.data());
    return 2;
  }
  const auto& options = std::get<k52::sim::FnxsimOptions>(parsed);
  if (options.help) {
    std::fputs(k52::sim::kFnxsimUsage.data(), stdout);
    return 0;
  }
  const auto prefix = k52::win32::Prefix::resolve(options.prefix);
  const std::filesystem::path socketPath =
      options.socket ? std::filesystem::path(*options.socket) : prefix.runDir() / "fnxsim.sock";
  try {
    if (options.command.empty()) return serve(options, prefix, socketPath);
    const auto reply = k52::sim::sendFnxControl(socketPath, options.command);
    std::fputs(reply.text.c_str(), reply.ok ? stdout : stderr);
    return reply.ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fnxsim: %s\n", e.what());
    return 1;
  }
}

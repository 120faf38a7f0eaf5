// readerctl and fnxsim as processes: the reader on a pty mapped as COM3, and
// behind the serial-sharing driver's device socket for COM4. Real clock,
// bounded waits; fnxsim is stopped by its PID.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/win32/com_ports.h"
#include "platform/win32/registry.h"
#include "platform/win32/test_temp_dir.h"
#include "testing/child_process.h"

namespace k52::readerctl {
namespace {

using namespace std::chrono_literals;
using testing::ChildOptions;
using testing::ChildProcess;

std::string fileText(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct ProcessRig {
  win32::TempDir dir;
  std::string prefix = dir.path().string();
  std::filesystem::path trace = dir.path() / "trace.txt";

  std::unique_ptr<ChildProcess> fnxsim(std::vector<std::string> extra) {
    std::vector<std::string> argv{FNXSIM_PATH, "--prefix", prefix, "--trace", trace.string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    auto child = std::make_unique<ChildProcess>(argv);
    EXPECT_TRUE(child->readLine(10s)) << "fnxsim did not come up";
    return child;
  }
  std::pair<int, std::string> control(std::string line) {
    return run({FNXSIM_PATH, "--prefix", prefix, line});
  }
  std::pair<int, std::string> readerctl(std::vector<std::string> steps) {
    std::vector<std::string> argv{READERCTL_PATH, "--prefix", prefix};
    argv.insert(argv.end(), steps.begin(), steps.end());
    return run(argv);
  }
  static std::pair<int, std::string> run(std::vector<std::string> argv) {
    ChildProcess child(argv, ChildOptions{.captureStderr = true});
    std::string out;
    while (auto line = child.readLine(20s)) out += *line + "\n";
    const auto status = child.wait(20s);
    return {status.value_or(-1), out};
  }
};

TEST(ReaderctlProcess, FindsTheReaderOnAPtyAndSpeedsItUp) {
  ProcessRig rig;
  const std::string link = (rig.dir.path() / "fnx-link").string();
  auto sim = rig.fnxsim({"--link", link, "--lot", "1234", "--serial", "5678"});
  win32::Registry(win32::Prefix(rig.prefix))
      .set(win32::RootKey::LocalMachine, win32::kPortsKey, "COM3", link);
  const auto [status, out] = rig.readerctl({"COM3", "attach", "info"});
  EXPECT_EQ(status, 0) << out;
  for (const char* line : {"Type=1\n", "Name=FNX\n", "Version=4.2\n", "LotNr=1234\n",
                           "Serial=5678\n", "MaxBaudrate=115200\n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << out;
  }
  const std::string trace = fileText(rig.trace);
  EXPECT_TRUE(trace.starts_with("host 9600 slot 0 69 00 A6 ok\n")) << trace.substr(0, 300);
  // At 115200 a frame starts with its length: the speed tests, 13 bytes.
  EXPECT_NE(trace.find("host 115200 slot 0 0D 6E 01 02 03 "), std::string::npos) << trace;

  // A card inserted through the control socket is seen by the next reader.
  EXPECT_EQ(rig.control("insert purse:100").first, 0);
  const auto [presentStatus, present] = rig.readerctl({"COM3", "attach", "present"});
  EXPECT_EQ(presentStatus, 0) << present;
  EXPECT_NE(present.find("present=yes\n"), std::string::npos) << present;
  const auto [controlStatus, report] = rig.control("status");
  EXPECT_EQ(controlStatus, 0);
  EXPECT_NE(report.find("card1=yes\n"), std::string::npos) << report;
  EXPECT_NE(rig.control("share 10").first, 0);  // no driver on a pty
}

TEST(ReaderctlProcess, ReachesTheReaderBehindTheSharingDriver) {
  ProcessRig rig;
  auto sim = rig.fnxsim({"--driver", "4", "--lot", "1234", "--serial", "5678"});
  const auto [status, out] = rig.readerctl({"COM4", "attach", "info", "counters", "sleep", "1500"});
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("LotNr=1234\n"), std::string::npos) << out;
  EXPECT_NE(out.find("MaxBaudrate=115200\n"), std::string::npos) << out;
  EXPECT_NE(out.find("driverport=yes\n"), std::string::npos) << out;
  const std::string trace = fileText(rig.trace);
  EXPECT_NE(trace.find("IO 2 05 6E 02 04 00 0E AF\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("IO 7 "), std::string::npos) << trace;
}

TEST(ReaderctlProcess, TheEndOfASharingPeriodPosts2023ToTheRegisteredWindow) {
  ProcessRig rig;
  auto sim = rig.fnxsim({"--driver", "4"});
  ChildProcess reader(
      {READERCTL_PATH, "--prefix", rig.prefix, "COM4", "attach", "sleep", "4000", "present"},
      ChildOptions{.captureStderr = true});
  ASSERT_EQ(reader.readLine(20s), "attached=1");
  // The driver knows the window once the channel was restored, 400 ms after
  // the attach's last write.
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(rig.control("share 200").first, 0);
  std::string out;
  while (auto line = reader.readLine(20s)) out += *line + "\n";
  EXPECT_EQ(reader.wait(20s), 0) << out;
  EXPECT_NE(out.find("message=2023\n"), std::string::npos) << out;
  EXPECT_NE(out.find("present=no\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace k52::readerctl

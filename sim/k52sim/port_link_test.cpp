// The port link against a k52sim child process, and k52sim's command line
// as a second process uses it.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "platform/nt/port_link/port_link.h"
#include "platform/win32/test_temp_dir.h"
#include "sim/k52fw/keypad.h"
#include "sim/k52sim/test_k52sim.h"
#include "sim/kbd8042/controller8042.h"
#include "sim/kbd8042/keyboard.h"
#include "sim/kbd8042/keyboard_wiring.h"
#include "sim/kbd8042/pic.h"

namespace k52::sim {
namespace {

using namespace std::chrono_literals;
using test::K52simProcess;
using test::runK52sim;

constexpr std::uint16_t kData = Controller8042::kDataPort;
constexpr std::uint16_t kStatus = Controller8042::kCommandPort;

// IRQ1s as the link delivers them, for the test thread to wait on.
class IrqCount {
 public:
  void raise() {
    std::lock_guard lock(mutex_);
    ++count_;
    changed_.notify_all();
  }
  bool reaches(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] { return count_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

class K52simTest : public ::testing::Test {
 protected:
  // Starts k52sim on the test's prefix and waits for it to print its socket.
  std::unique_ptr<K52simProcess> start(std::vector<std::string> args = {}) {
    auto process = std::make_unique<K52simProcess>(dir_.path(), std::move(args));
    EXPECT_EQ(process->readLine(), socketPath().string());
    return process;
  }
  std::filesystem::path socketPath() const {
    return nt::keyboardSocketPath(win32::Prefix(dir_.path()));
  }
  test::K52simRun run(std::vector<std::string> args) {
    return runK52sim(dir_.path(), std::move(args));
  }

  win32::TempDir dir_;
};

TEST_F(K52simTest, PortsInterruptsAndKeysReachThePcOverTheLink) {
  const auto k52sim = start();
  auto link = nt::PortLink::connect(socketPath());
  IrqCount irqs;
  link->onIrq1([&] { irqs.raise(); });
  EXPECT_TRUE(link->connected());
  EXPECT_EQ(link->readPort(kStatus) & Controller8042::kStatusOutputFull, 0);
  link->writePort(Pic::kMaskPort, 0x5A);
  EXPECT_EQ(link->readPort(Pic::kMaskPort), 0x5A);
  link->writePort(Pic::kMaskPort, 0x00);

  // A host byte is acknowledged; the interrupt comes after the write.
  link->writePort(kData, 0xEE);
  ASSERT_TRUE(irqs.reaches(1));
  EXPECT_EQ(link->readPort(kStatus) & Controller8042::kStatusOutputFull,
            Controller8042::kStatusOutputFull);
  EXPECT_EQ(link->readPort(kData), KeyboardWiring::kAck);

  // Keys typed without a PIN entry are the PC's keystrokes.
  const auto keys = run({"keys", "1"});
  EXPECT_EQ(keys.status, 0) << keys.output;
  ASSERT_TRUE(irqs.reaches(2));
  EXPECT_EQ(link->readPort(kData), makeCodeOf(KeypadKey::k1));
  ASSERT_TRUE(irqs.reaches(3));
  EXPECT_EQ(link->readPort(kData), makeCodeOf(KeypadKey::k1) | Keyboard::kBreakBit);

  // One PC at a time; the next is served once the first has gone.
  EXPECT_THROW(nt::PortLink::connect(socketPath()), std::runtime_error);
  EXPECT_EQ(run({"status"}).output, "card in slot: no\nPC connected: yes\n");
  link.reset();
  auto next = nt::PortLink::connect(socketPath());
  EXPECT_EQ(next->readPort(Pic::kMaskPort), 0x00);
}

TEST_F(K52simTest, TheLinkOutlivesAKeyboardThatDies) {
  auto k52sim = start();
  auto link = nt::PortLink::connect(socketPath());
  ASSERT_EQ(link->readPort(Pic::kMaskPort), 0x00);
  k52sim->kill();
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (link->connected() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_FALSE(link->connected());
  EXPECT_EQ(link->readPort(kStatus), 0xFF);
  link->writePort(kData, 0xEE);  // dropped
  link.reset();
}

TEST_F(K52simTest, ALiveInstanceIsRefusedAndAStaleSocketReplaced) {
  auto first = start();
  K52simProcess second(dir_.path(), {});
  EXPECT_EQ(second.wait(10s), 1);
  EXPECT_NE(second.readLine()->find("another k52sim already serves"), std::string::npos);

  first->kill();
  ASSERT_TRUE(std::filesystem::is_socket(socketPath()));
  auto third = start({"--card", "purse:100"});
  EXPECT_EQ(run({"status"}).output, "card in slot: yes\nPC connected: no\n");
  // Stopped by SIGTERM it takes its socket along.
  third.reset();
  EXPECT_FALSE(std::filesystem::exists(socketPath()));
}

TEST_F(K52simTest, ControlCommandsActOnTheRunningKeyboard) {
  const auto nobody = run({"status"});
  EXPECT_EQ(nobody.status, 1);
  EXPECT_NE(nobody.output.find("no k52sim serves " + socketPath().string()), std::string::npos);

  const auto k52sim = start();
  const auto inserted = run({"insert", "pin:1234:t1"});
  EXPECT_EQ(inserted.status, 0) << inserted.output;
  EXPECT_EQ(run({"status"}).output, "card in slot: yes\nPC connected: no\n");
  EXPECT_EQ(run({"pull"}).status, 0);
  EXPECT_EQ(run({"status"}).output, "card in slot: no\nPC connected: no\n");
  EXPECT_EQ(run({"pin-keys", "1234E"}).status, 0);

  const auto wrong = run({"insert", "purse:1000000"});
  EXPECT_EQ(wrong.status, 2);
  EXPECT_NE(wrong.output.find("the balance is 0..999999 cents"), std::string::npos);
}

}  // namespace
}  // namespace k52::sim

// The reader on a serial terminal: creation, the fall-back to the keyboard's
// own terminal, and card work over the line.
#include <gtest/gtest.h>

#include <map>

#include "drivers/reader/test_reader_rig.h"

namespace k52::varnel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

std::string typeOf(ReaderRig& rig) {
  const Bytes type = rig.attribute(nt::SCARD_ATTR_VENDOR_IFD_TYPE).out;
  return std::string(type.begin(), type.end());
}

TEST(ReaderSerial, WorksWithTheSerialTerminal) {
  ReaderRig rig({.port = "COM1", .serial = SerialEnd::kTerminal});
  rig.serialTerminal().insertCard(
      std::make_shared<sim::Card>(sim::makePurseCard(sim::PurseConfig{1234})));
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  EXPECT_EQ(typeOf(rig), "K52-3100 Serial-Reader B");
  ASSERT_EQ(rig.power(nt::SCARD_COLD_RESET).status, nt::STATUS_SUCCESS);
  ASSERT_EQ(rig.setProtocol(nt::SCARD_PROTOCOL_T0).status, nt::STATUS_SUCCESS);
  EXPECT_EQ(rig.transmit(nt::SCARD_PROTOCOL_T0, kSelectPurse).out, (Bytes{0x90, 0x00}));
  const auto record = rig.transmit(nt::SCARD_PROTOCOL_T0, kReadBalance);
  EXPECT_EQ(record.status, nt::STATUS_SUCCESS);
  EXPECT_EQ(record.out.size(), 11u);
  // Nothing of this went over the keyboard line.
  EXPECT_TRUE(rig.pc().wiring().hostBytes().bytes().size() <= 2u);
}

TEST(ReaderSerial, FallsBackToTheKeyboardTerminal) {
  struct Case {
    const char* what;
    ReaderRigOptions options;
    Duration atLeast;
  };
  const Case cases[] = {
      {"silent line", {.port = "COM1", .serial = SerialEnd::kSilent}, 4s},
      {"no such port", {.port = "COM3", .serial = SerialEnd::kSilent}, 0s},
      {"no port named", {.port = "LPT1"}, 0s},
      {"COM? left by the installer", {.port = "COM?"}, 0s},
  };
  for (const Case& c : cases) {
    ReaderRig rig(c.options);
    const Duration start = rig.scheduler().now();
    ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS) << c.what;
    EXPECT_GE(rig.scheduler().now() - start, c.atLeast) << c.what;
    EXPECT_EQ(typeOf(rig), "K52-3100 Keyboard-Reader B") << c.what;
  }
}

// A terminal on the line that answers each command with a fixed frame.
class CannedTerminal final : public nt::serial::SerialDevice {
 public:
  CannedTerminal(nt::serial::SimulatedLine& line, std::map<std::uint8_t, Bytes> answers)
      : line_(line), answers_(std::move(answers)) {
    line_.attach(this);
  }
  ~CannedTerminal() override { line_.attach(nullptr); }
  void receive(std::uint8_t byte) override {
    if (auto frame = reader_.feed(byte); frame && !frame->command.empty()) {
      if (auto it = answers_.find(frame->command[0]); it != answers_.end()) line_.send(it->second);
    }
  }

 private:
  nt::serial::SimulatedLine& line_;
  std::map<std::uint8_t, Bytes> answers_;
  sim::FrameReader reader_;
};

// The K52 firmware on the line, with a card that keeps the terminal busy
// after the host has granted it more time: the answer to every block sent
// during an extension (0x6C) comes `delay` late.
class SlowAfterExtension final : public nt::serial::SerialDevice {
 public:
  SlowAfterExtension(sim::K52Firmware& firmware, nt::serial::SimulatedLine& line,
                     nt::Scheduler& scheduler, Duration delay)
      : firmware_(firmware), line_(line), scheduler_(scheduler), delay_(delay) {
    line_.attach(this);
  }
  ~SlowAfterExtension() override { line_.attach(nullptr); }
  void receive(std::uint8_t byte) override {
    const auto frame = reader_.feed(byte);
    if (!frame || frame->command.empty()) return;
    const Bytes answer = sim::serialFrame(firmware_.execute(frame->command));
    const Duration delay = frame->command[0] == 0x6C ? delay_ : Duration::zero();
    nt::serial::SimulatedLine& line = line_;
    scheduler_.schedule(
        delay, [&line, answer] { line.send(answer); }, nt::EventKind::Device);
  }

 private:
  sim::K52Firmware& firmware_;
  nt::serial::SimulatedLine& line_;
  nt::Scheduler& scheduler_;
  Duration delay_;
  sim::FrameReader reader_;
};

TEST(ReaderSerial, TheLongestWaitingTimeExtensionIsWaitedFor) {
  ReaderRig rig({.port = "COM1", .serial = SerialEnd::kSilent});
  sim::SchedulerTimeline timeline(rig.scheduler());
  sim::K52Firmware firmware(timeline, sim::serialTerminalIdentity());
  firmware.insertCard(std::make_shared<sim::Card>(
      sim::makePurseCard(sim::PurseConfig{1234}, sim::AtrProtocols::kT1)));
  SlowAfterExtension terminal(firmware, rig.serialLine(), rig.scheduler(), 20s);
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  ASSERT_EQ(rig.setProtocol(nt::SCARD_PROTOCOL_T1).status, nt::STATUS_SUCCESS);
  ASSERT_EQ(rig.transmit(nt::SCARD_PROTOCOL_T1, kSelectPurse).out, (Bytes{0x90, 0x00}));
  // From 142 x 3 s on, the time and the 4 s no longer fit 32 bits of 100 ns.
  for (const std::uint8_t multiplier : {142, 143, 255}) {
    firmware.slot().contacts()->t1Transport().takeLong(1, multiplier);
    const Duration start = rig.scheduler().now();
    const auto record = rig.transmit(nt::SCARD_PROTOCOL_T1, kReadBalance);
    EXPECT_EQ(record.status, nt::STATUS_SUCCESS) << int{multiplier};
    EXPECT_EQ(record.out, kBalanceRecord) << int{multiplier};
    EXPECT_GE(rig.scheduler().now() - start, 20s) << int{multiplier};
  }
}

TEST(ReaderSerial, EachAnswerSetsTheTimeOutOfTheNext) {
  ReaderRig rig({.port = "COM1", .serial = SerialEnd::kSilent});
  // A status answer of 200 bytes gives the next exchange 200 x 20 ms on top
  // of the 4 s; the bare answer to the power-off gives the one after it
  // back its 4 s.
  Bytes status = {0x00, 0xC9, 0x64, 0x19, 0x00, 0x00, 0x03};
  status.resize(2 + 0xC9, 0x00);
  CannedTerminal terminal(rig.serialLine(), {{0x60, {0x00, 0x01, 0x64}},
                                             {0x69, {0x00, 0x03, 0x68, 0x60, 0x05}},
                                             {0x65, status},
                                             {0x63, {0x00, 0x01, 0x64}}});
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  const Duration start = rig.scheduler().now();
  // Status, power off, then a power on that gets no answer.
  EXPECT_EQ(rig.power(nt::SCARD_COLD_RESET).status, nt::STATUS_UNRECOGNIZED_MEDIA);
  const Duration took = rig.scheduler().now() - start;
  EXPECT_GT(took, 4s);
  EXPECT_LT(took, 6s);
}

TEST(ReaderSerial, AnAnswerAnnouncingMoreThan260BytesIsRefused) {
  ReaderRig rig({.port = "COM1", .serial = SerialEnd::kSilent});
  CannedTerminal terminal(rig.serialLine(),
                          {{0x60, {0x00, 0x01, 0x64}},
                           {0x69, {0x00, 0x03, 0x68, 0x60, 0x05}},
                           {0x65, {0x00, 0x05, 0x64, 0x19, 0x00, 0x00, 0x03}},
                           {0x63, {0x00, 0x01, 0x64}},
                           {0x62, {0x01, 0x2D, 0x64}}});  // 300 bytes announced, none sent
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  const Duration start = rig.scheduler().now();
  EXPECT_EQ(rig.power(nt::SCARD_COLD_RESET).status, nt::STATUS_UNRECOGNIZED_MEDIA);
  EXPECT_LT(rig.scheduler().now() - start, 2s);  // refused, not waited for
}

}  // namespace
}  // namespace k52::varnel

// The FNX firmware byte for byte: frames, answers and checksums, the counter
// and the repeated answer, speed, twin addressing, the identity, the card
// relay and the faults; and the reader on a simulated line checking the
// host's frame.
#include "sim/fnx/fnx_firmware.h"

#include <gtest/gtest.h>

#include <vector>

#include "chiphost/core/cdes.h"
#include "chiphost/readers/checksum.h"
#include "chiphost/readers/fnx_protocol.h"
#include "platform/win32/comm/comm.h"
#include "sim/card/purse.h"
#include "sim/fnx/fnx_line_device.h"

namespace k52::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
namespace fnx = chiphost::fnx;

Bytes frame(std::uint8_t slot, Bytes command, bool lengthByte = false) {
  if (lengthByte) command.insert(command.begin(), static_cast<std::uint8_t>(command.size()));
  command.push_back(chiphost::rollChecksum(slot, command));
  return command;
}

Bytes answer(Bytes bytes) {
  bytes.push_back(chiphost::rollChecksum(fnx::kAnswerSeed, bytes));
  return bytes;
}

struct Firmware {
  explicit Firmware(FnxConfig config = {})
      : fw(config, [this](std::span<const std::uint8_t> b) {
          sent.insert(sent.end(), b.begin(), b.end());
        }) {}
  Bytes exchange(const Bytes& bytes) {
    sent.clear();
    for (std::uint8_t b : bytes) fw.receive(b, now += 1ms);
    return sent;
  }
  Bytes command(Bytes cmd, std::uint8_t slot = 0) {
    return exchange(frame(slot, std::move(cmd), fw.speed() >= 115200));
  }
  Duration now{0};
  Bytes sent;
  FnxFirmware fw;
};

TEST(FnxFirmware, IdentifyFrameAndAnswerAreByteExact) {
  Firmware f;
  EXPECT_EQ(frame(0, {0x69, 0x00}), (Bytes{0x69, 0x00, 0xA6}));
  EXPECT_EQ(f.command({0x69, 0x00}), answer({0x84, 0x42}));
  EXPECT_EQ(f.command({0x00}), answer({0x84, 0x42}));
  // A wrong checksum gets no answer.
  EXPECT_EQ(f.exchange({0x69, 0x00, 0xA7}), Bytes{});
  EXPECT_EQ(f.command({0x69, 0x00}), answer({0x84, 0x42}));
}

TEST(FnxFirmware, TheCounterMovesForExecutedCommandsOnly) {
  struct Case {
    Bytes command;
    bool counted;
  };
  const Case cases[] = {
      {{0x69, 0x00}, false},
      {{0x00}, false},
      {{0x02}, false},
      {{0x0C}, false},
      {{0x30}, false},
      {{0x6E, 0x00, 0x00, 0x00, 0x0E}, false},
      {Bytes(std::begin(fnx::kSpeedTest), std::end(fnx::kSpeedTest)), false},
      {{0x03}, true},
      {{0x6F, 0x01, 0x6A, 0x0F}, true},
      {{0x6A, 0x0F}, true},
      {{0x70, 0x80, 0x60, 0x10}, true},
      {{0x80, 0x61, 0x61, 0x0F}, true},
  };
  for (const Case& c : cases) {
    Firmware f;
    f.command(c.command);
    EXPECT_EQ(f.fw.counter(0), c.counted ? 1 : 0) << testing::PrintToString(c.command);
    EXPECT_EQ(f.command({0x02}), answer({f.fw.counter(0)}));
  }
}

TEST(FnxFirmware, ALostAnswerIsRepeatedWithoutASecondExecution) {
  Firmware f;
  f.fw.insertCard(0, std::make_shared<ContactCard>(std::make_shared<Card>(makePurseCard({}))));
  f.fw.faults().dropAnswers = 1;
  EXPECT_EQ(f.command({0x03}), Bytes{});
  EXPECT_EQ(f.command({0x02}), answer({1}));
  EXPECT_EQ(f.command({0x30}), answer({0xC0}));  // present, changed
  EXPECT_EQ(f.fw.executions().at("status"), 1u);
  // Asked for more than there was: the bytes before it are zero.
  EXPECT_EQ(f.command({0x31}), answer({0x00, 0xC0}));
}

TEST(FnxFirmware, FaultsLoseCommandsGarbleAnswersAndMute) {
  Firmware f;
  f.fw.faults().dropCommands = 1;
  EXPECT_EQ(f.command({0x03}), Bytes{});
  EXPECT_EQ(f.fw.counter(0), 0);
  f.fw.faults().garble = 1;
  EXPECT_NE(f.command({0x02}), answer({0}));
  f.fw.faults().mute = 2;
  EXPECT_EQ(f.command({0x02}), Bytes{});
  EXPECT_EQ(f.command({0x02}), Bytes{});
  EXPECT_EQ(f.command({0x02}), answer({0}));
  f.fw.faults().mute = 0;
  EXPECT_EQ(f.command({0x02}), Bytes{});
  EXPECT_EQ(f.command({0x02}), Bytes{});
}

TEST(FnxFirmware, SpeedCommandIsCheckedAndFromItsSpeedFramesCarryTheirLength) {
  Firmware f;
  f.command({0x6E, 0x80, 0x81, 0x00, 0x08});  // d xor 0x5D wrong
  EXPECT_EQ(f.fw.speed(), 9600);
  f.command({0x6E, 0x80, 0x80 ^ 0x5D, 0x00, 0x08});
  EXPECT_EQ(f.fw.speed(), 115200);
  EXPECT_EQ(f.fw.counter(0), 1);
  EXPECT_EQ(f.exchange(frame(0, {0x02})), Bytes{});
  EXPECT_EQ(f.exchange(frame(0, {0x02}, true)), answer({1}));
  Bytes test(std::begin(fnx::kSpeedTest), std::end(fnx::kSpeedTest));
  EXPECT_EQ(f.exchange(frame(0, test, true)).size(), fnx::kSpeedTestAnswer + 1);
  f.fw.lineBreak();
  EXPECT_EQ(f.fw.speed(), 9600);
  f.command({0x6E, 0x01, 0x01 ^ 0x5D, 0x00, 0x08});
  EXPECT_EQ(f.fw.speed(), 57600);
}

TEST(FnxFirmware, OldFirmwareRefusesTheSpeedCommand) {
  Firmware f({.firmware = 18});
  f.command({0x6E, 0x01, 0x01 ^ 0x5D, 0x00, 0x08});
  EXPECT_EQ(f.fw.speed(), 9600);
  EXPECT_EQ(f.fw.counter(0), 0);
}

TEST(FnxFirmware, OnlyTheTwinAnswersOnSlotAddressOne) {
  Firmware single({.type = 6});
  EXPECT_EQ(single.command({0x69, 0x00}, 1), Bytes{});
  Firmware twin({.type = 7});
  EXPECT_EQ(twin.command({0x69, 0x00}, 1), answer({0x88, 0x42}));
  twin.command({0x03}, 1);
  EXPECT_EQ(twin.fw.counter(1), 1);
  EXPECT_EQ(twin.fw.counter(0), 0);
}

TEST(FnxFirmware, TheIdentityIsEncipheredLittleEndian) {
  Firmware f({.lot = 1234, .serial = 5678});
  Bytes got = f.command({0x0C});
  ASSERT_EQ(got.size(), 5u);
  chiphost::Cdes4Block(std::span<std::uint8_t, 4>(got.data(), 4), fnx::kIdentityKey);
  EXPECT_EQ(got[0] | got[1] << 8, 1234);
  EXPECT_EQ(got[2] | got[3] << 8, 5678);
}

TEST(FnxFirmware, CardBytesPassByTheHeadersCountAndTheLeadAboveFirmware65) {
  Firmware f;
  auto card = std::make_shared<ContactCard>(std::make_shared<Card>(makePurseCard({})));
  f.fw.insertCard(0, card);
  f.command({0x70, 0x80, 0x60, 0x10});
  Bytes atr = f.command({0x6F, 0x00, 0xA0, 0x05});
  EXPECT_EQ(atr, card->card().atr());
  f.command({0x6E, 0x01, 0x01 ^ 0x5D, 0x00, 0x08});
  // At 57600 the header is followed by 0xFE 0xF8, then the card bytes.
  Bytes transfer = frame(0, {0x6F, 0x05, 0x05});
  for (std::uint8_t b : {0xFE, 0xF8, 0x00, 0xC0, 0x00, 0x00, 0x02}) transfer.push_back(b);
  const Bytes reply = f.exchange(transfer);
  EXPECT_FALSE(reply.empty());
  EXPECT_EQ(f.fw.executions().at("transfer"), 1u);
}

TEST(FnxLineDevice, TheHostsFrameMustBeTheFirmwaresAndABreakMeans9600) {
  VirtualClock clock;
  auto line = std::make_shared<win32::SimulatedCommLine>(clock);
  FnxLineDevice reader(line, {});
  const Bytes identify = frame(0, {0x69, 0x00});
  auto ask = [&](win32::LineFrame host) {
    line->configure(host);
    line->purgeInput();
    line->write(identify);
    clock.advance(50ms);
    Bytes got(16);
    got.resize(line->read(got));
    line->takeErrors();
    return got;
  };
  EXPECT_EQ(ask({9600, 8, win32::EVENPARITY, win32::TWOSTOPBITS}), answer({0x84, 0x42}));
  EXPECT_EQ(ask({19200, 8, win32::EVENPARITY, win32::TWOSTOPBITS}), Bytes{});
  EXPECT_EQ(ask({9600, 8, win32::NOPARITY, win32::TWOSTOPBITS}), Bytes{});
  EXPECT_EQ(ask({9600, 8, win32::EVENPARITY, win32::ONESTOPBIT}), Bytes{});
  line->configure({9600, 8, win32::EVENPARITY, win32::TWOSTOPBITS});
  line->write(frame(0, {0x6E, 0x01, 0x01 ^ 0x5D, 0x00, 0x08}));
  clock.advance(50ms);
  line->run();
  EXPECT_EQ(reader.firmware().speed(), 57600);
  line->setOutputs({true, true, true});
  line->setOutputs({true, true, false});
  EXPECT_EQ(reader.firmware().speed(), 9600);
  EXPECT_EQ(line->modemStatus(), win32::MS_CTS_ON | win32::MS_DSR_ON);
  reader.firmware().pullCard(0);
  reader.firmware().insertCard(
      0, std::make_shared<ContactCard>(std::make_shared<Card>(makePurseCard({}))));
  clock.advance(10ms);
  line->inputCount();
  EXPECT_EQ(line->takeErrors() & win32::CE_BREAK, win32::CE_BREAK);
}

}  // namespace
}  // namespace k52::sim

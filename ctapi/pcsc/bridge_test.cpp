#include "ctapi/pcsc/bridge_fixture.h"

namespace k52::ctbridge {
namespace {

using namespace std::chrono_literals;

TEST_F(BridgeTest, TerminalStaysOpenUntilEveryInitIsBalanced) {
  config["DEBUG"] = "on";
  EXPECT_EQ(bridge().init(1, 7), OK);
  EXPECT_EQ(bridge().init(1, 7), OK);
  EXPECT_TRUE(traced("CT_init:  ctn=1 pn=7 count=2"));

  EXPECT_EQ(bridge().close(1), OK);
  EXPECT_TRUE(traced("CT_close:  ctn=1 count=1"));
  EXPECT_EQ(send({0x20, 0x11, 0x00, 0x00}).result, OK);
  EXPECT_NE(bridge().context(), 0);

  EXPECT_EQ(bridge().close(1), OK);
  EXPECT_EQ(bridge().context(), 0) << "the last close releases the context";
  EXPECT_EQ(pcsc.liveContexts(), 0u);
  EXPECT_EQ(send({0x20, 0x11, 0x00, 0x00}).result, ERR_INVALID);
  EXPECT_EQ(bridge().close(1), ERR_INVALID);
}

TEST_F(BridgeTest, TerminalNumberAbove255RegistersNothing) {
  config["DEBUG"] = "ON";
  EXPECT_EQ(bridge().init(256, 1), ERR_INVALID);
  EXPECT_TRUE(traced("Error:  ctn > 255"));
  EXPECT_EQ(bridge().close(256), ERR_INVALID);
  // Opening and closing a real terminal afterwards still frees the context.
  EXPECT_EQ(bridge().init(1, 1), OK);
  EXPECT_EQ(bridge().close(1), OK);
  EXPECT_EQ(pcsc.liveContexts(), 0u);
}

TEST_F(BridgeTest, TerminalZeroIsOpenOnlyAfterItsOwnInit) {
  config["ReaderName0"] = kReader;
  config["ReaderName5"] = kReader;
  open(1);
  EXPECT_EQ(bridge().close(0), ERR_INVALID) << "0 was never opened";
  EXPECT_NE(bridge().context(), 0) << "terminal 1 still holds the context";
  EXPECT_EQ(send({0x20, 0x11, 0x00, 0x00}, CTAPI_ADDR_CT, 258, 0).result, ERR_INVALID);

  EXPECT_EQ(bridge().init(0, 1), OK);
  EXPECT_EQ(bridge().init(5, 1), OK);
  EXPECT_EQ(send({0x20, 0x11, 0x00, 0x00}, CTAPI_ADDR_CT, 258, 0).result, OK);
  EXPECT_EQ(bridge().close(0), OK);
  EXPECT_EQ(bridge().close(0), ERR_INVALID) << "one init, one close";
  EXPECT_EQ(bridge().close(5), OK) << "5 kept its own entry";
  EXPECT_EQ(bridge().close(1), OK);
  EXPECT_EQ(pcsc.liveContexts(), 0u);
}

TEST_F(BridgeTest, FailedInitsKeepTheirRegistrationAndReportWhy) {
  config["DEBUG"] = "ON";
  EXPECT_EQ(bridge().init(3, 1), ERR_INVALID);
  EXPECT_TRUE(traced("Error:  ReaderName3=blank"));
  EXPECT_EQ(bridge().close(3), OK) << "a failed init is balanced like a good one";

  pcsc.establishFailure = pcsc::kNoService;
  EXPECT_EQ(bridge().init(1, 1), ERR_INVALID);
  EXPECT_EQ(bridge().init(1, 1), ERR_INVALID);
  EXPECT_TRUE(traced("Error:  EstablishContext failed"));
  pcsc.establishFailure.reset();
  EXPECT_EQ(bridge().init(1, 1), ERR_INVALID) << "no new attempt before the last close";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(bridge().close(1), OK);
  EXPECT_EQ(bridge().init(1, 1), OK);
}

TEST_F(BridgeTest, NewContextAfterTheLastClose) {
  EXPECT_EQ(bridge().init(1, 1), OK);
  EXPECT_EQ(bridge().close(1), OK);
  EXPECT_EQ(bridge().init(1, 1), OK);
  EXPECT_EQ(std::count(pcsc.calls.begin(), pcsc.calls.end(), "establishContext"), 2);
  EXPECT_EQ(pcsc.liveContexts(), 1u);
}

TEST_F(BridgeTest, DebugSettingChoosesTheTraceSinks) {
  const struct {
    const char* debug;
    TraceMode mode;
  } cases[] = {
      {"", TraceMode::Off},     {"off", TraceMode::Off},         {"on", TraceMode::Sink},
      {"ONX", TraceMode::Sink}, {"onn", TraceMode::SinkAndFile},
  };
  for (const auto& c : cases) {
    config["DEBUG"] = c.debug;
    Bridge fresh(Environment{pcsc, clock, [&](const std::string& n) { return config[n]; }, nullptr,
                             nullptr});
    fresh.init(1, 1);
    EXPECT_EQ(fresh.trace().mode(), c.mode) << c.debug;
    fresh.close(1);
  }
}

TEST_F(BridgeTest, FileTraceGoesToTheConfiguredDirectory) {
  config["DEBUG"] = "onn";
  config["DEBUGDIR"] = "D:\\logs";
  EXPECT_EQ(bridge().init(1, 1), OK);
  ASSERT_FALSE(filePaths.empty());
  EXPECT_EQ(filePaths.front(), "D:\\logs\\_cc.prt");
  const std::string file = fileTrace();
  EXPECT_NE(file.find("CT_init\nCT_init:  ctn=1 pn=1 count=1\n"), std::string::npos) << file;
  EXPECT_NE(file.find("Reader: Fake Reader 00\n"), std::string::npos);
  EXPECT_TRUE(traced("Reader:  Fake Reader 00"));
  EXPECT_TRUE(traced("All Rd:  Fake Reader 00"));
}

TEST_F(BridgeTest, DefaultTraceFileAndLongDirectoriesAreCut) {
  config["DEBUG"] = "ONN";
  bridge().init(1, 1);
  EXPECT_EQ(filePaths.front(), "C:\\_cc.prt");
  bridge().close(1);

  config["DEBUGDIR"] = "C:\\" + std::string(400, 'x');
  filePaths.clear();
  bridge().init(1, 1);
  ASSERT_FALSE(filePaths.empty());
  EXPECT_EQ(filePaths.back().size(), 254u);
  EXPECT_TRUE(filePaths.back().ends_with("x\\_cc.prt"));
}

TEST_F(BridgeTest, SinkLibraryIsLoadedWhileTerminalsAreOpen) {
  config["DEBUG"] = "ON";
  bridge().init(1, 1);
  bridge().init(2, 1);
  EXPECT_EQ(sinkLoads, 1);
  bridge().close(1);
  bridge().close(2);
  const auto lines = sinkLines.size();
  bridge().close(2);
  EXPECT_EQ(sinkLines.size(), lines) << "the sink is unloaded after the last close";
}

TEST_F(BridgeTest, GetReadersListsThroughTheProcessContext) {
  pcsc.addReader("Another Reader");
  open();
  char names[64];
  std::uint32_t len = sizeof names;
  EXPECT_EQ(bridge().getReaders(names, &len), 0);
  EXPECT_EQ(std::string(names, len), std::string("Another Reader\0Fake Reader 00\0\0", 31));
  len = 4;
  EXPECT_EQ(static_cast<pcsc::Status>(bridge().getReaders(names, &len)), pcsc::kInsufficientBuffer);
}

TEST_F(BridgeTest, BadLengthIsRejectedBeforeTheTerminalIsLookedUp) {
  const Reply r = send({0x20, 0x12, 0x01}, CTAPI_ADDR_CT, 258, 9);
  EXPECT_EQ(r.result, ERR_INVALID);
  EXPECT_EQ(r.bytes, (Bytes{0x67, 0x00}));
  EXPECT_EQ(r.sad, CTAPI_ADDR_CT);
  EXPECT_EQ(r.dad, CTAPI_ADDR_HOST);
}

TEST_F(BridgeTest, TerminalCommandsTheLibraryRejects) {
  open();
  const struct {
    Bytes command;
    std::uint16_t ctn;
  } cases[] = {
      {{0x20, 0x11, 0x00, 0x00}, 2},  // not opened
      {{0x00, 0x11, 0x00, 0x00}, 1},  // wrong class
      {{0x20, 0x16, 0x00, 0x00}, 1},  // INPUT
      {{0x20, 0x17, 0x00, 0x00}, 1},  // OUTPUT
      {{0x20, 0x44, 0x00, 0x00}, 1},
  };
  for (const auto& c : cases) {
    const Reply r = send(c.command, CTAPI_ADDR_CT, 258, c.ctn);
    EXPECT_EQ(r.result, ERR_INVALID) << int(c.command[1]);
    EXPECT_EQ(r.lenr, 258) << "response untouched";
  }
  EXPECT_TRUE(pcsc.calls.empty());
}

TEST_F(BridgeTest, ResetCtTouchesNoReader) {
  open();
  const Reply r = send({0x20, 0x11, 0x00, 0x00});
  EXPECT_EQ(r.result, OK);
  EXPECT_EQ(r.bytes, (Bytes{0x90, 0x00}));
  EXPECT_EQ(r.sad, CTAPI_ADDR_CT);
  EXPECT_TRUE(pcsc.calls.empty());
}

TEST_F(BridgeTest, TerminalCommandWithoutReaderFailsWithNoResponse) {
  config.erase("ReaderName1");
  config["DEBUG"] = "on";
  bridge().init(1, 1);
  for (std::uint16_t capacity : {100, 10}) {
    sinkLines.clear();
    const Reply r = send({0x20, 0x13, 0x00, 0x80}, CTAPI_ADDR_CT, capacity);
    EXPECT_EQ(r.result, ERR_HTSI);
    EXPECT_EQ(r.lenr, 0) << "nothing was written into a buffer of " << capacity;
    EXPECT_TRUE(traced("Error:  ReaderName1=blank"));
    EXPECT_TRUE(traced("Data (0): ")) << "none of the caller's bytes in the trace";
    EXPECT_TRUE(traced("an error has occured"));
  }
}

TEST_F(BridgeTest, CardCommandsPassThroughUnchanged) {
  // The card echoes the command.
  pcsc.reader(kReader).insertAt(0s, {kAtrT1, pcsc::kProtocolT1, [](auto apdu) {
                                       Bytes answer(apdu.begin(), apdu.end());
                                       answer.insert(answer.end(), {0x90, 0x00});
                                       return answer;
                                     }});
  open();
  const Reply r = send({0x00, 0xB2, 0x01, 0xC4, 0x00}, CTAPI_ADDR_ICC1);
  EXPECT_EQ(r.result, OK);
  EXPECT_EQ(r.bytes, (Bytes{0x00, 0xB2, 0x01, 0xC4, 0x00, 0x90, 0x00}));
  EXPECT_EQ(r.sad, CTAPI_ADDR_ICC1);
  EXPECT_EQ(r.dad, CTAPI_ADDR_HOST);
  EXPECT_EQ(pcsc.liveHandles(), 0u) << "every command releases its connection";
}

TEST_F(BridgeTest, CardCommandFailures) {
  const Bytes apdu{0x00, 0xA4, 0x04, 0x00};
  {
    open();
    const Reply r = send(apdu, CTAPI_ADDR_ICC1);
    EXPECT_EQ(r.result, ERR_CT) << "no card: the connection is refused";
    EXPECT_EQ(r.lenr, 0);
    EXPECT_EQ(r.sad, CTAPI_ADDR_CT);
  }
  {
    insertCardAt(0s);
    pcsc.transmitFailure = pcsc::kCommError;
    const Reply r = send(apdu, CTAPI_ADDR_ICC1);
    EXPECT_EQ(r.result, ERR_TRANS);
    EXPECT_EQ(r.lenr, 2);
    EXPECT_EQ(r.sad, CTAPI_ADDR_CT);
    EXPECT_EQ(pcsc.liveHandles(), 0u);
  }
  {
    config["ReaderName2"] = "";
    bridge().init(2, 1);
    const Reply r = send(apdu, CTAPI_ADDR_ICC1, 10, 2);
    EXPECT_EQ(r.result, ERR_CT);
    EXPECT_EQ(r.lenr, 10) << "no reader configured: lenr untouched";
  }
}

TEST_F(BridgeTest, ResponseNeverOverrunsASmallBuffer) {
  open();
  const Reply r = send({0x20, 0x11, 0x00, 0x00}, CTAPI_ADDR_CT, 1);
  EXPECT_EQ(r.result, ERR_MEMORY);
  EXPECT_EQ(r.lenr, 0);
  insertCardAt(0s);
  const Reply card = send({0x00, 0xB2, 0x01, 0xC4, 0x00}, CTAPI_ADDR_ICC1, 1);
  EXPECT_EQ(card.result, ERR_MEMORY) << "the card's 90 00 does not fit";
  EXPECT_EQ(card.lenr, 0);
  const Reply bad = send({0x20}, CTAPI_ADDR_CT, 1);
  EXPECT_EQ(bad.result, ERR_INVALID);
  EXPECT_EQ(bad.lenr, 0);
}

TEST_F(BridgeTest, MissingArgumentsAreInvalid) {
  open();
  std::uint8_t dad = 1, sad = 2, buffer[4];
  std::uint16_t lenr = sizeof buffer;
  const std::uint8_t cmd[] = {0x20, 0x11, 0x00, 0x00};
  EXPECT_EQ(bridge().data(1, nullptr, &sad, 4, cmd, &lenr, buffer), ERR_INVALID);
  EXPECT_EQ(bridge().data(1, &dad, &sad, 4, nullptr, &lenr, buffer), ERR_INVALID);
  EXPECT_EQ(bridge().data(1, &dad, &sad, 4, cmd, nullptr, buffer), ERR_INVALID);
  EXPECT_EQ(bridge().data(1, &dad, &sad, 4, cmd, &lenr, nullptr), ERR_INVALID);
}

}  // namespace
}  // namespace k52::ctbridge

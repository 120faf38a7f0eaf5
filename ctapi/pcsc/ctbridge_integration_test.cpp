// libctbridge.so through a real, private pcscd to a simulated purse card in
// pcscd's virtual reader. Every test runs in a process of its own, with its
// own daemon, ports and prefix.
#include <PCSC/winscard.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ctapi/pcsc/ctbridge.h"
#include "platform/win32/registry.h"
#include "sim/card/atr.h"
#include "sim/card/purse.h"
#include "sim/vpcd/vpcd_card.h"
#include "testing/private_pcscd.h"

namespace k52::ctbridge {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

struct Reply {
  int result;
  Bytes bytes;
  std::uint8_t sad;
};

Bytes withSw(Bytes data, std::uint8_t sw1, std::uint8_t sw2) {
  data.insert(data.end(), {sw1, sw2});
  return data;
}

class CtBridgeThroughPcscd : public ::testing::Test {
 protected:
  // The library takes its prefix once per process, at its first call.
  static void SetUpTestSuite() {
    std::string dir = (std::filesystem::temp_directory_path() / "k52-ctbridge-XXXXXX").string();
    ASSERT_TRUE(mkdtemp(dir.data()));
    prefixDir_ = dir;
    setenv("K52_PREFIX", dir.c_str(), 1);
    // What the library swallows shows on stderr.
    setenv("K52_DEBUG", "1", 1);
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(prefixDir_); }

  void SetUp() override {
    pcscd_ = std::make_unique<testing::PrivatePcscd>();
    win32::Registry(win32::Prefix(prefixDir_))
        .set(win32::RootKey::CurrentUser, "CTAPIDLL.INI\\OPT", "ReaderName1", pcscd_->readerName());
  }

  void TearDown() override {
    card_.reset();
    pcscd_.reset();
  }

  void insertPurse(std::uint32_t balance) {
    card_ = std::make_unique<sim::VpcdCard>(sim::makePurseCard({.balance = balance}),
                                            pcscd_->vpcdPort());
    ASSERT_TRUE(card_->insert(5s));
    ASSERT_TRUE(card_->waitUntilPowered(5s));
    ASSERT_TRUE(pcscd_->waitForCard(pcscd_->readerName(), true) & SCARD_STATE_PRESENT);
  }

  Reply send(Bytes command, std::uint8_t dad = CTAPI_ADDR_CT, std::uint16_t ctn = 1) {
    Bytes response(258);
    std::uint8_t sad = CTAPI_ADDR_HOST;
    std::uint16_t lenr = static_cast<std::uint16_t>(response.size());
    const int rc = CT_data(ctn, &dad, &sad, static_cast<std::uint16_t>(command.size()),
                           command.data(), &lenr, response.data());
    response.resize(lenr);
    return {rc, response, sad};
  }

  static inline std::filesystem::path prefixDir_;
  std::unique_ptr<testing::PrivatePcscd> pcscd_;
  std::unique_ptr<sim::VpcdCard> card_;
};

TEST_F(CtBridgeThroughPcscd, ListsTheReaderAndRejectsAnUnconfiguredTerminal) {
  ASSERT_EQ(CT_init(1, 1), OK);
  char names[512];
  std::uint32_t len = sizeof names;
  ASSERT_EQ(CT_getrd(names, &len), 0);
  EXPECT_EQ(std::string(names), pcscd_->readerName());

  EXPECT_EQ(CT_init(2, 1), ERR_INVALID) << "no ReaderName2";
  EXPECT_EQ(CT_close(2), OK);
  EXPECT_EQ(CT_close(1), OK);
  EXPECT_EQ(CT_close(1), ERR_INVALID);
}

TEST_F(CtBridgeThroughPcscd, ReadsThePurseBalance) {
  insertPurse(1234);
  ASSERT_EQ(CT_init(1, 1), OK);
  const Reply select =
      send({0x00, 0xA4, 0x04, 0x0C, 0x09, 0xD2, 0x76, 0x00, 0x00, 0x25, 0x45, 0x50, 0x01, 0x00},
           CTAPI_ADDR_ICC1);
  EXPECT_EQ(select.result, OK);
  EXPECT_EQ(select.bytes, (Bytes{0x90, 0x00}));
  EXPECT_EQ(select.sad, CTAPI_ADDR_ICC1);

  const Reply record = send({0x00, 0xB2, 0x01, 0xC4, 0x00}, CTAPI_ADDR_ICC1);
  EXPECT_EQ(record.result, OK);
  ASSERT_EQ(record.bytes.size(), 11u);
  EXPECT_EQ(Bytes(record.bytes.begin(), record.bytes.begin() + 3), (Bytes{0x00, 0x12, 0x34}));
  EXPECT_EQ(Bytes(record.bytes.end() - 2, record.bytes.end()), (Bytes{0x90, 0x00}));

  const Reply unknown = send({0x00, 0x42, 0x00, 0x00}, CTAPI_ADDR_ICC1);
  EXPECT_EQ(unknown.bytes, (Bytes{0x6D, 0x00})) << "the card's own answer passes through";
  EXPECT_EQ(CT_close(1), OK);
}

TEST_F(CtBridgeThroughPcscd, ResetsTerminalAndCard) {
  insertPurse(100);
  const Bytes atr = sim::readyAtr(sim::AtrProtocols::kT0AndT1);
  const auto info = sim::parseAtr(atr);
  ASSERT_TRUE(info);
  ASSERT_EQ(CT_init(1, 1), OK);
  const struct {
    Bytes command;
    Bytes response;
  } cases[] = {
      {{0x20, 0x11, 0x00, 0x00}, {0x90, 0x00}},
      {{0x20, 0x11, 0x01, 0x00}, {0x90, 0x01}},
      {{0x20, 0x11, 0x01, 0x01}, withSw(atr, 0x90, 0x01)},
      {{0x20, 0x11, 0x01, 0x02},
       withSw(Bytes(info->historical.begin(), info->historical.end()), 0x90, 0x01)},
  };
  for (const auto& c : cases) {
    const Reply r = send(c.command);
    EXPECT_EQ(r.result, OK);
    EXPECT_EQ(r.bytes, c.response) << int(c.command[2]) << " " << int(c.command[3]);
    EXPECT_EQ(r.sad, CTAPI_ADDR_CT);
  }
  EXPECT_EQ(CT_close(1), OK);
}

TEST_F(CtBridgeThroughPcscd, RequestStatusAndEjectOnAReaderWithoutVendorAttributes) {
  insertPurse(100);
  ASSERT_EQ(CT_init(1, 1), OK);
  // The virtual reader knows neither the card-changed flag nor its type: the
  // card counts as already activated, and no status object can be built.
  EXPECT_EQ(send({0x20, 0x12, 0x01, 0x01}).bytes, (Bytes{0x62, 0x01}));
  for (std::uint8_t tag : {0x46, 0x80, 0x81, 0x47}) {
    const Reply r = send({0x20, 0x13, 0x00, tag});
    EXPECT_EQ(r.result, OK);
    EXPECT_EQ(r.bytes, (Bytes{0x64, 0x00})) << int(tag);
  }
  // The card stays in: a one-byte time means "no timer object".
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(send({0x20, 0x15, 0x01, 0x00, 0x01, 0x01}).bytes, (Bytes{0x90, 0x00}));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(send({0x20, 0x15, 0x01, 0x00, 0x03, 0x80, 0x01, 0x01}).bytes, (Bytes{0x62, 0x00}));
  EXPECT_EQ(CT_close(1), OK);
}

TEST_F(CtBridgeThroughPcscd, EjectSeesTheCardTakenDuringTheWait) {
  insertPurse(100);
  ASSERT_EQ(CT_init(1, 1), OK);
  std::thread taker([this] {
    std::this_thread::sleep_for(1500ms);
    card_->remove();
  });
  const Reply r = send({0x20, 0x15, 0x01, 0x00, 0x03, 0x80, 0x01, 0x05});
  taker.join();
  EXPECT_EQ(r.result, OK);
  EXPECT_EQ(r.bytes, (Bytes{0x90, 0x01}));
  EXPECT_EQ(CT_close(1), OK);
}

TEST_F(CtBridgeThroughPcscd, TracesThroughTheSinkLibraryAndIntoTheTraceFile) {
  const auto sinkLog = prefixDir_ / "sink.log";
  setenv("K52_LIBRARY_PATH", K52_TRCHOOK_DIR, 1);
  setenv("K52_TRCHOOK_LOG", sinkLog.c_str(), 1);
  win32::Registry(win32::Prefix(prefixDir_))
      .set(win32::RootKey::CurrentUser, "CTAPIDLL.INI\\OPT", "DEBUG", std::string("onn"));
  ASSERT_EQ(CT_init(1, 1), OK);
  send({0x20, 0x11, 0x00, 0x00});
  ASSERT_EQ(CT_close(1), OK);

  auto read = [](const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string sink = read(sinkLog);
  const std::string file = read(prefixDir_ / "drive_c" / "_cc.prt");
  EXPECT_NE(sink.find("Reader:  " + pcscd_->readerName() + "\n"), std::string::npos) << sink;
  EXPECT_NE(file.find("Reader: " + pcscd_->readerName() + "\n"), std::string::npos) << file;
  for (const char* both : {"CT-Cmd: Reset CT\n", "Data (2): 90,00,\n", "RelCtx:  res=0\n"}) {
    EXPECT_NE(sink.find(both), std::string::npos) << both;
    EXPECT_NE(file.find(both), std::string::npos) << both;
  }
}

TEST_F(CtBridgeThroughPcscd, AnUnreadableConfigurationReadsAsEmptyAndTheDebugLogSaysWhy) {
  const auto hive = win32::Prefix(prefixDir_).userHive();
  std::filesystem::remove(hive);
  std::filesystem::create_directory(hive);  // there, but no file to read
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(CT_init(1, 1), ERR_INVALID) << "no reader name could be read";
  const std::string log = ::testing::internal::GetCapturedStderr();
  std::filesystem::remove(hive);
  EXPECT_EQ(CT_close(1), OK);
  EXPECT_NE(log.find("k52 ctbridge configuration: ReaderName1: "), std::string::npos) << log;
}

TEST_F(CtBridgeThroughPcscd, CardCommandWithoutCard) {
  ASSERT_EQ(CT_init(1, 1), OK);
  const Reply r = send({0x00, 0xA4, 0x04, 0x00}, CTAPI_ADDR_ICC1);
  EXPECT_EQ(r.result, ERR_CT);
  EXPECT_TRUE(r.bytes.empty());
  EXPECT_EQ(r.sad, CTAPI_ADDR_CT);
  // Without a card the reset has nothing to reset.
  EXPECT_EQ(send({0x20, 0x11, 0x01, 0x01}).bytes, (Bytes{0x62, 0x00}));
  // Asking for a card gives up after the time, though the virtual reader
  // cannot tell whether a card changed.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(send({0x20, 0x12, 0x01, 0x00, 0x01, 0x01}).bytes, (Bytes{0x62, 0x00}));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(CT_close(1), OK);
}

}  // namespace
}  // namespace k52::ctbridge

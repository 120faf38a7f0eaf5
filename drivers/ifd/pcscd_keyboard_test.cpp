// The K52 keyboard terminal as a reader of a real pcscd: k52sim serves the
// keyboard, the private pcscd loads libifd-varnel.so, and the clients are
// libctbridge.so (CT-API) and a plain PC/SC client. Real time throughout:
// one exchange with the terminal takes some 0.4 s.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "ctapi/include/ctapi.h"
#include "drivers/ifd/pin_pad.h"
#include "drivers/ifd/test_pcsc_client.h"
#include "platform/win32/registry.h"
#include "platform/win32/test_temp_dir.h"
#include "sim/k52sim/test_k52sim.h"
#include "testing/private_pcscd.h"

namespace k52::ifd::test {

using namespace std::chrono_literals;
namespace {

const Bytes kSelectPurse = {0x00, 0xA4, 0x04, 0x0C, 0x09, 0xD2, 0x76,
                            0x00, 0x00, 0x25, 0x45, 0x50, 0x01, 0x00};
const Bytes kReadBalance = {0x00, 0xB2, 0x01, 0xC4, 0x09};
const Bytes kBalanceRecord = {0x00, 0x12, 0x34, 0x02, 0x00, 0x00, 0x02, 0x00, 0x00, 0x90, 0x00};
const Bytes kSelectPin = {0x00, 0xA4, 0x04, 0x0C, 0x08, 0xD2, 0x76,
                          0x00, 0x00, 0x98, 0x50, 0x49, 0x4E};
constexpr DWORD kFirstPollMs = 10'000 + 5'000;  // varnel polls first 10 s after its start

Bytes sw(const Bytes& response) {
  return response.size() < 2 ? response : Bytes(response.end() - 2, response.end());
}

// The prefix of this test program: libctbridge.so takes its prefix once per
// process.
const win32::TempDir& prefixDir() {
  static const win32::TempDir dir;
  return dir;
}

// k52sim serving the prefix, pcscd with the reader of that prefix, and
// terminal 1 of libctbridge.so configured for the reader.
class KeyboardReader {
 public:
  explicit KeyboardReader(std::vector<std::string> k52simArgs = {}) {
    ::setenv("K52_PREFIX", dir_.path().c_str(), 1);
    win32::Registry registry{win32::Prefix(dir_.path())};
    registry.set(win32::RootKey::LocalMachine,
                 "System\\CurrentControlSet\\Services\\vrlPCSC\\Parameters", "KeyboardCWT",
                 std::uint32_t{2});
    keyboard_ = std::make_unique<sim::test::K52simProcess>(dir_.path(), std::move(k52simArgs));
    if (!keyboard_->readLine()) throw std::runtime_error("k52sim did not start");
    pcscd_ = std::make_unique<testing::PrivatePcscd>(testing::PrivatePcscdOptions{
        .vpcd = false,
        .handler = testing::HandlerReader{.library = K52_IFD_VARNEL_PATH, .prefix = dir_.path()}});
    registry.set(win32::RootKey::CurrentUser, "CTAPIDLL.INI\\OPT", "ReaderName1", reader());
  }

  std::string reader() const { return pcscd_->handlerReaderName(); }

  // A command to the running k52sim ("insert purse:1234", "pin-keys 1234E").
  void k52sim(std::string command, std::string argument = {}) {
    std::vector<std::string> args{command};
    if (!argument.empty()) args.push_back(argument);
    const auto run = sim::test::runK52sim(dir_.path(), args);
    ASSERT_EQ(run.status, 0) << command << ": " << run.output;
  }

 private:
  const win32::TempDir& dir_ = prefixDir();
  std::unique_ptr<sim::test::K52simProcess> keyboard_;
  std::unique_ptr<testing::PrivatePcscd> pcscd_;
};

// CT_data for terminal 1; the response with its status word.
Bytes ctData(Bytes command, std::uint8_t dad = CTAPI_ADDR_CT) {
  Bytes response(258);
  std::uint8_t sad = CTAPI_ADDR_HOST;
  std::uint16_t lenr = static_cast<std::uint16_t>(response.size());
  if (CT_data(1, &dad, &sad, static_cast<std::uint16_t>(command.size()), command.data(), &lenr,
              response.data()) != OK) {
    return {};
  }
  response.resize(lenr);
  return response;
}

TEST(KeyboardReader, CardChangesAndTheTerminalCommandsOfTheCtApi) {
  KeyboardReader keyboard;
  PcscClient client;
  EXPECT_TRUE(client.waitForCard(keyboard.reader(), false, 1000));
  keyboard.k52sim("insert", "purse:1234:t0");
  EXPECT_TRUE(client.waitForCard(keyboard.reader(), true, kFirstPollMs));
  keyboard.k52sim("pull");
  EXPECT_TRUE(client.waitForCard(keyboard.reader(), false, 5000));

  ASSERT_EQ(CT_init(1, 1), OK);
  EXPECT_EQ(sw(ctData({0x20, 0x11, 0x00, 0x00, 0x00})), (Bytes{0x90, 0x00}));  // RESET CT

  // REQUEST ICC waiting 15 s, the card inserted meanwhile: its ATR, 90 01.
  auto request = std::async(std::launch::async, [] {
    return ctData({0x20, 0x12, 0x01, 0x01, 0x01, 0x0F, 0x00});
  });
  std::this_thread::sleep_for(1s);
  keyboard.k52sim("insert", "purse:1234:t0");
  const Bytes atr = request.get();
  ASSERT_GT(atr.size(), 2u);
  EXPECT_EQ(sw(atr), (Bytes{0x90, 0x01}));
  // GET STATUS: a card in the slot, powered or not (pcscd may have switched
  // it off since); the reader's long type name does not get in the way.
  const Bytes status = ctData({0x20, 0x13, 0x00, 0x80, 0x00});
  ASSERT_EQ(status.size(), 5u);
  EXPECT_EQ(Bytes(status.begin(), status.begin() + 2), (Bytes{0x80, 0x01}));
  EXPECT_TRUE(status[2] == 0x03 || status[2] == 0x05) << int{status[2]};
  EXPECT_EQ(sw(status), (Bytes{0x90, 0x00}));

  EXPECT_EQ(ctData(kSelectPurse, CTAPI_ADDR_ICC1), (Bytes{0x90, 0x00}));
  EXPECT_EQ(ctData(kReadBalance, CTAPI_ADDR_ICC1), kBalanceRecord);

  // EJECT ICC waiting 15 s, the card pulled meanwhile: 90 01.
  auto eject = std::async(std::launch::async, [] {
    return ctData({0x20, 0x15, 0x01, 0x00, 0x01, 0x0F});
  });
  std::this_thread::sleep_for(1s);
  keyboard.k52sim("pull");
  EXPECT_EQ(eject.get(), (Bytes{0x90, 0x01}));

  keyboard.k52sim("insert", "purse:1234:t1");
  EXPECT_TRUE(client.waitForCard(keyboard.reader(), true, 5000));
  EXPECT_EQ(sw(ctData({0x20, 0x12, 0x01, 0x01, 0x00})), (Bytes{0x90, 0x01}));
  EXPECT_EQ(ctData(kSelectPurse, CTAPI_ADDR_ICC1), (Bytes{0x90, 0x00}));
  EXPECT_EQ(ctData(kReadBalance, CTAPI_ADDR_ICC1), kBalanceRecord);
  EXPECT_EQ(CT_close(1), OK);
}

TEST(KeyboardReader, KeypadPinsForTheCtApiAndForPart10Clients) {
  KeyboardReader keyboard({"--card", "pin:1234:t0"});
  ASSERT_EQ(CT_init(1, 1), OK);
  EXPECT_EQ(sw(ctData({0x20, 0x12, 0x01, 0x00, 0x00})), (Bytes{0x90, 0x01}));  // REQUEST ICC
  ASSERT_EQ(ctData(kSelectPin, CTAPI_ADDR_ICC1), (Bytes{0x90, 0x00}));

  // PERFORM VERIFICATION: the format-2 block of the typed PIN into VERIFY.
  const Bytes command = {0x52, 0x0F, 0xC1, 0x05, 0x00, 0x20, 0x00, 0x81, 0x08,
                         0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  Bytes withTimer = {0x80, 0x01, 0x03};  // 3 s to type
  withTimer.insert(withTimer.end(), command.begin(), command.end());
  const struct {
    const char* name;
    const char* keys;
    Bytes field;
    Bytes answer;
  } cases[] = {
      {"wrong PIN", "1235E", command, {0x63, 0xC2}},
      {"right PIN", "1234E", command, {0x90, 0x00}},
      {"cancelled", "C", command, {0x64, 0x01}},
      {"nothing typed", "", withTimer, {0x64, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (*c.keys) keyboard.k52sim("pin-keys", c.keys);
    Bytes verify = {0x20, 0x18, 0x01, 0x00, static_cast<std::uint8_t>(c.field.size())};
    verify.insert(verify.end(), c.field.begin(), c.field.end());
    EXPECT_EQ(ctData(verify), c.answer);
  }
  EXPECT_EQ(CT_close(1), OK);

  // FEATURE_VERIFY_PIN_DIRECT from a plain PC/SC client.
  PcscClient client;
  ASSERT_EQ(client.connect(keyboard.reader(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0),
            SCARD_S_SUCCESS);
  ASSERT_EQ(client.transmit(kSelectPin), (Bytes{0x90, 0x00}));
  Bytes features;
  ASSERT_EQ(client.control(kGetFeatureRequest, {}, features), SCARD_S_SUCCESS);
  ASSERT_EQ(features, featureList());
  Bytes structure = {30,   0,    0x89, 0x47, 0x04, 12,   4,    0x02, 1,    0x09, 0x04,
                     0,    0,    0,    0,    13,   0,    0,    0,    0x00, 0x20, 0x00,
                     0x81, 0x08, 0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  keyboard.k52sim("pin-keys", "1234E");
  Bytes answer;
  EXPECT_EQ(client.control(kVerifyPinDirect, structure, answer), SCARD_S_SUCCESS);
  EXPECT_EQ(answer, (Bytes{0x90, 0x00}));
}

}  // namespace
}  // namespace k52::ifd::test

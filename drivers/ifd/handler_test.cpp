// The handler's entry points as pcscd calls them, on the real clock, with
// the K52 keyboard wired in-process instead of the simulator's socket.
extern "C" {
#include <ifdhandler.h>
#include <reader.h>
}

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "drivers/ifd/handler_keyboard.h"
#include "drivers/ifd/pin_pad.h"
#include "drivers/ifd/response_code.h"
#include "platform/win32/registry.h"
#include "platform/win32/test_temp_dir.h"
#include "sim/card/pin_application.h"
#include "sim/card/purse.h"
#include "sim/k52fw/k52_firmware.h"
#include "sim/kbd8042/keyboard_wiring.h"
#include "sim/kbdstack/scheduler_timeline.h"

namespace k52::ifd {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

constexpr DWORD kLun = 0x10000;

// The keyboard with its terminal on the handler's scheduler.
class InProcessKeyboard final : public KeyboardLink {
 public:
  InProcessKeyboard(nt::Scheduler& scheduler, std::shared_ptr<sim::Card> card)
      : scheduler_(scheduler),
        timeline_(scheduler),
        firmware_(timeline_),
        wiring_(timeline_, firmware_) {
    firmware_.attachKeypad(wiring_.keyboard());
    if (card) firmware_.insertCard(std::move(card));
  }
  std::uint8_t readPort(std::uint16_t port) override { return wiring_.readPort(port); }
  void writePort(std::uint16_t port, std::uint8_t value) override {
    wiring_.writePort(port, value);
  }
  void onIrq1(std::function<void()> isr) override { wiring_.onIrq1(std::move(isr)); }

  // Runs `action` among the models' own steps.
  void inModels(std::function<void(sim::K52Firmware&, sim::Keyboard&)> action) {
    scheduler_.schedule(
        Duration::zero(), [this, action] { action(firmware_, wiring_.keyboard()); },
        nt::EventKind::Device);
  }

 private:
  nt::Scheduler& scheduler_;
  sim::SchedulerTimeline timeline_;
  sim::K52Firmware firmware_;
  sim::KeyboardWiring wiring_;
};

class Handler : public ::testing::Test {
 protected:
  void SetUp() override {
    win32::Registry(win32::Prefix(dir_.path()))
        .set(win32::RootKey::LocalMachine,
             "System\\CurrentControlSet\\Services\\vrlPCSC\\Parameters", "KeyboardCWT",
             std::uint32_t{2});
    setHandlerKeyboard([this](const win32::Prefix&, nt::Scheduler& scheduler) {
      auto keyboard = std::make_unique<InProcessKeyboard>(scheduler, std::move(firstCard_));
      keyboard_ = keyboard.get();
      return keyboard;
    });
  }
  void TearDown() override {
    IFDHCloseChannel(kLun);
    setHandlerKeyboard({});
  }

  RESPONSECODE open() {
    return IFDHCreateChannelByName(kLun, const_cast<char*>(dir_.path().c_str()));
  }
  // Before open(): the card is in the slot when the keyboard comes up.
  void insert(sim::Card card) {
    auto shared = std::make_shared<sim::Card>(std::move(card));
    if (!keyboard_) {
      firstCard_ = shared;
      return;
    }
    keyboard_->inModels([shared](sim::K52Firmware& f, sim::Keyboard&) { f.insertCard(shared); });
  }
  // Waits as pcscd's polling thread does until the presence is `present`.
  bool waitPresence(bool present, std::chrono::seconds limit = 15s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto* wait = pollingFunction();
    while (std::chrono::steady_clock::now() < deadline) {
      if ((IFDHICCPresence(kLun) == IFD_SUCCESS) == present) return true;
      wait(kLun, 1000);
    }
    return false;
  }
  using Wait = RESPONSECODE (*)(DWORD, int);
  Wait pollingFunction() {
    Wait wait = nullptr;
    DWORD length = sizeof wait;
    EXPECT_EQ(IFDHGetCapabilities(kLun, TAG_IFD_POLLING_THREAD_WITH_TIMEOUT, &length,
                                  reinterpret_cast<PUCHAR>(&wait)),
              IFD_SUCCESS);
    return wait;
  }
  Bytes capability(DWORD tag, RESPONSECODE expected = IFD_SUCCESS) {
    Bytes value(264);
    DWORD length = static_cast<DWORD>(value.size());
    EXPECT_EQ(IFDHGetCapabilities(kLun, tag, &length, value.data()), expected) << std::hex << tag;
    value.resize(expected == IFD_SUCCESS ? length : 0);
    return value;
  }
  Bytes transmit(DWORD protocol, Bytes apdu) {
    Bytes answer(258);
    DWORD length = static_cast<DWORD>(answer.size());
    SCARD_IO_HEADER send{protocol, 8};
    SCARD_IO_HEADER receive{};
    EXPECT_EQ(IFDHTransmitToICC(kLun, send, apdu.data(), static_cast<DWORD>(apdu.size()),
                                answer.data(), &length, &receive),
              IFD_SUCCESS);
    answer.resize(length);
    return answer;
  }
  RESPONSECODE control(DWORD code, Bytes in, Bytes& out, DWORD capacity = 64) {
    out.assign(capacity, 0);
    DWORD returned = 0;
    const RESPONSECODE rv = IFDHControl(kLun, code, in.data(), static_cast<DWORD>(in.size()),
                                        out.data(), capacity, &returned);
    out.resize(returned);
    return rv;
  }
  Bytes powerUp() {
    Bytes atr(MAX_ATR_SIZE);
    DWORD length = MAX_ATR_SIZE;
    EXPECT_EQ(IFDHPowerICC(kLun, IFD_POWER_UP, atr.data(), &length), IFD_SUCCESS);
    atr.resize(length);
    return atr;
  }

  win32::TempDir dir_;
  InProcessKeyboard* keyboard_ = nullptr;
  std::shared_ptr<sim::Card> firstCard_;
};

const Bytes kSelectPurse = {0x00, 0xA4, 0x04, 0x0C, 0x09, 0xD2, 0x76,
                            0x00, 0x00, 0x25, 0x45, 0x50, 0x01, 0x00};
const Bytes kReadBalance = {0x00, 0xB2, 0x01, 0xC4, 0x09};
const Bytes kBalanceRecord = {0x00, 0x12, 0x34, 0x02, 0x00, 0x00, 0x02, 0x00, 0x00, 0x90, 0x00};

TEST_F(Handler, ACardIsSeenComingAndGoingAndAnswersOverBothProtocols) {
  ASSERT_EQ(open(), IFD_SUCCESS);
  EXPECT_EQ(IFDHCreateChannelByName(kLun + 1, const_cast<char*>("default")),
            IFD_COMMUNICATION_ERROR);
  EXPECT_EQ(capability(TAG_IFD_SLOTS_NUMBER), Bytes{1});
  EXPECT_EQ(capability(TAG_IFD_THREAD_SAFE), Bytes{0});
  EXPECT_FALSE(capability(SCARD_ATTR_VENDOR_NAME).empty());
  EXPECT_EQ(capability(SCARD_ATTR_USER_AUTH_INPUT_DEVICE), (Bytes{6, 0, 0, 0}));
  capability(0x0009FFFF, IFD_ERROR_TAG);
  capability(SCARD_ATTR_ESC_RESET, IFD_ERROR_TAG);  // never a vendor request to the terminal
  EXPECT_EQ(IFDHICCPresence(kLun), IFD_ICC_NOT_PRESENT);

  // varnel's first status poll comes 10 s after the reader started.
  insert(sim::makePurseCard(sim::PurseConfig{1234}, sim::AtrProtocols::kT0AndT1));
  ASSERT_TRUE(waitPresence(true));
  const Bytes atr = powerUp();
  ASSERT_FALSE(atr.empty());
  EXPECT_EQ(capability(TAG_IFD_ATR), atr);
  EXPECT_EQ(capability(0x0007AEEE), (Bytes{1, 0, 0, 0}));

  for (const DWORD protocol : {0, 1}) {
    SCOPED_TRACE(protocol);
    ASSERT_EQ(IFDHSetProtocolParameters(kLun, SCARD_PROTOCOL_T0 << protocol, 0, 0, 0, 0),
              IFD_SUCCESS);
    EXPECT_EQ(transmit(protocol, kSelectPurse), (Bytes{0x90, 0x00}));
    EXPECT_EQ(transmit(protocol, kReadBalance), kBalanceRecord);
    powerUp();
  }

  keyboard_->inModels([](sim::K52Firmware& f, sim::Keyboard&) { f.pullCard(); });
  EXPECT_TRUE(waitPresence(false, 5s));
  Bytes unused(MAX_ATR_SIZE);
  DWORD length = MAX_ATR_SIZE;
  EXPECT_EQ(IFDHPowerICC(kLun, IFD_POWER_UP, unused.data(), &length), IFD_ERROR_POWER_ACTION);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(IFDHCloseChannel(kLun), IFD_SUCCESS);
  EXPECT_EQ(IFDHICCPresence(kLun), IFD_NO_SUCH_DEVICE);
}

TEST_F(Handler, TheKeypadVerifiesAPinForAPart10Client) {
  insert(
      sim::makePinCard({0x24, 0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, sim::AtrProtocols::kT0));
  ASSERT_EQ(open(), IFD_SUCCESS);
  ASSERT_EQ(IFDHICCPresence(kLun), IFD_SUCCESS);
  powerUp();
  ASSERT_EQ(IFDHSetProtocolParameters(kLun, SCARD_PROTOCOL_T0, 0, 0, 0, 0), IFD_SUCCESS);
  EXPECT_EQ(
      transmit(0, {0x00, 0xA4, 0x04, 0x0C, 0x08, 0xD2, 0x76, 0x00, 0x00, 0x98, 0x50, 0x49, 0x4E}),
      (Bytes{0x90, 0x00}));

  Bytes features;
  ASSERT_EQ(control(kGetFeatureRequest, {}, features), IFD_SUCCESS);
  EXPECT_EQ(features, featureList());
  EXPECT_EQ(control(kGetFeatureRequest, {}, features, 4), IFD_ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(control(0x42000000 + 3600, {}, features), IFD_ERROR_NOT_SUPPORTED);

  // PIN_VERIFY_STRUCTURE: 30 s, format 2 block, 4..12 digits, VERIFY.
  Bytes structure = {30,   0,    0x89, 0x47, 0x04, 12,   4,    0x02, 1,    0x09, 0x04,
                     0,    0,    0,    0,    13,   0,    0,    0,    0x00, 0x20, 0x00,
                     0x81, 0x08, 0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const auto verify = [&](Bytes keys) {
    keyboard_->inModels([keys](sim::K52Firmware& f, sim::Keyboard& k) {
      f.onPinEntry([&k, keys] { k.type(keys); });
    });
    Bytes out;
    EXPECT_EQ(control(kVerifyPinDirect, structure, out), IFD_SUCCESS);
    return out;
  };
  EXPECT_EQ(verify({0x02, 0x03, 0x04, 0x06, 0x1C}), (Bytes{0x63, 0xC2}));  // 1 2 3 5 Enter
  EXPECT_EQ(verify({0x02, 0x03, 0x04, 0x05, 0x1C}), (Bytes{0x90, 0x00}));  // 1 2 3 4 Enter
  Bytes out;
  EXPECT_EQ(control(kVerifyPinDirect, {1, 2, 3}, out), IFD_COMMUNICATION_ERROR);
}

// What pcscd reacts to: a missing tag or protocol, a failed power action or
// PTS, a time-out, a card that is not there.
TEST(ResponseCodes, EachEntryPointAnswersItsOwnCodeForAnOutcome) {
  struct Case {
    Entry entry;
    Outcome outcome;
    RESPONSECODE code;
  };
  const Case cases[] = {
      {Entry::kGetCapabilities, Outcome::kNotSupported, IFD_ERROR_TAG},
      {Entry::kGetCapabilities, Outcome::kBufferTooSmall, IFD_ERROR_INSUFFICIENT_BUFFER},
      {Entry::kSetProtocolParameters, Outcome::kNotSupported, IFD_PROTOCOL_NOT_SUPPORTED},
      {Entry::kSetProtocolParameters, Outcome::kTimeout, IFD_ERROR_PTS_FAILURE},
      {Entry::kSetProtocolParameters, Outcome::kFailed, IFD_ERROR_PTS_FAILURE},
      {Entry::kPowerICC, Outcome::kTimeout, IFD_RESPONSE_TIMEOUT},
      {Entry::kPowerICC, Outcome::kNoCard, IFD_ERROR_POWER_ACTION},
      {Entry::kPowerICC, Outcome::kFailed, IFD_ERROR_POWER_ACTION},
      {Entry::kTransmitToICC, Outcome::kNoCard, IFD_ICC_NOT_PRESENT},
      {Entry::kTransmitToICC, Outcome::kTimeout, IFD_RESPONSE_TIMEOUT},
      {Entry::kTransmitToICC, Outcome::kFailed, IFD_COMMUNICATION_ERROR},
      {Entry::kControl, Outcome::kNotSupported, IFD_ERROR_NOT_SUPPORTED},
      {Entry::kControl, Outcome::kBufferTooSmall, IFD_ERROR_INSUFFICIENT_BUFFER},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(responseCode(c.entry, c.outcome), c.code)
        << static_cast<int>(c.entry) << "/" << static_cast<int>(c.outcome);
  }
  for (const Entry entry : {Entry::kGetCapabilities, Entry::kSetProtocolParameters,
                            Entry::kPowerICC, Entry::kTransmitToICC, Entry::kControl}) {
    EXPECT_EQ(responseCode(entry, Outcome::kSuccess), IFD_SUCCESS);
  }
}

// Without a reader behind the Lun, every length comes back 0 with the error.
TEST(HandlerWithoutReader, ErrorsLeaveNoLengthBehind) {
  UCHAR buffer[64];
  DWORD atrLength = sizeof buffer;
  EXPECT_EQ(IFDHPowerICC(kLun, IFD_POWER_UP, buffer, &atrLength), IFD_NO_SUCH_DEVICE);
  EXPECT_EQ(atrLength, 0u);
  DWORD rxLength = sizeof buffer;
  UCHAR apdu[] = {0x00, 0xB2, 0x01, 0xC4, 0x00};
  SCARD_IO_HEADER send{0, 8};
  EXPECT_EQ(IFDHTransmitToICC(kLun, send, apdu, sizeof apdu, buffer, &rxLength, nullptr),
            IFD_NO_SUCH_DEVICE);
  EXPECT_EQ(rxLength, 0u);
  rxLength = sizeof buffer;
  EXPECT_EQ(IFDHTransmitToICC(kLun, send, apdu, sizeof apdu, nullptr, &rxLength, nullptr),
            IFD_COMMUNICATION_ERROR);
  EXPECT_EQ(rxLength, 0u);
  DWORD attributeLength = sizeof buffer;
  EXPECT_EQ(IFDHGetCapabilities(kLun, TAG_IFD_ATR, &attributeLength, buffer), IFD_NO_SUCH_DEVICE);
}

TEST(HandlerWithoutKeyboard, TheChannelFailsAsWithoutATerminal) {
  win32::TempDir dir;
  setHandlerKeyboard([](const win32::Prefix&, nt::Scheduler&) { return nullptr; });
  EXPECT_EQ(IFDHCreateChannelByName(kLun, const_cast<char*>(dir.path().c_str())),
            IFD_COMMUNICATION_ERROR);
  EXPECT_EQ(IFDHICCPresence(kLun), IFD_NO_SUCH_DEVICE);
  setHandlerKeyboard({});
}

}  // namespace
}  // namespace k52::ifd

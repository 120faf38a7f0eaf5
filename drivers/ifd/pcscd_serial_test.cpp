// The serial K52 terminal as a reader of a real pcscd: the handler with
// "Port" COM1 on the pty of k52serial, read by a plain PC/SC client.
#include <gtest/gtest.h>

#include <memory>

#include "drivers/ifd/pin_pad.h"
#include "drivers/ifd/test_pcsc_client.h"
#include "platform/win32/registry.h"
#include "platform/win32/test_temp_dir.h"
#include "testing/child_process.h"
#include "testing/private_pcscd.h"

namespace k52::ifd::test {
namespace {

const Bytes kSelectPurse = {0x00, 0xA4, 0x04, 0x0C, 0x09, 0xD2, 0x76,
                            0x00, 0x00, 0x25, 0x45, 0x50, 0x01, 0x00};
const Bytes kReadBalance = {0x00, 0xB2, 0x01, 0xC4, 0x09};
const Bytes kBalanceRecord = {0x00, 0x12, 0x34, 0x02, 0x00, 0x00, 0x02, 0x00, 0x00, 0x90, 0x00};

class SerialReader : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new win32::TempDir;
    terminal_ =
        new testing::ChildProcess(std::vector<std::string>{K52SERIAL_PATH, "--purse", "1234"});
    const auto tty = terminal_->readLine();
    ASSERT_TRUE(tty.has_value()) << "k52serial printed no pty";
    win32::Registry registry(win32::Prefix(dir_->path()));
    registry.set(win32::RootKey::LocalMachine, "Software\\k52kit\\Ports", "COM1", *tty);
    registry.set(win32::RootKey::LocalMachine,
                 "System\\CurrentControlSet\\Services\\varnel\\Reader0", "Port", "COM1");
    pcscd_ = new testing::PrivatePcscd(testing::PrivatePcscdOptions{
        .vpcd = false,
        .handler = testing::HandlerReader{.library = K52_IFD_VARNEL_PATH, .prefix = dir_->path()}});
  }
  static void TearDownTestSuite() {
    delete pcscd_;
    delete terminal_;
    delete dir_;
  }
  void SetUp() override { ASSERT_NE(pcscd_, nullptr); }

  static inline win32::TempDir* dir_ = nullptr;
  static inline testing::ChildProcess* terminal_ = nullptr;
  static inline testing::PrivatePcscd* pcscd_ = nullptr;
};

TEST_F(SerialReader, ReadsTheBalanceOverEitherProtocol) {
  PcscClient client;
  for (const DWORD protocol : {SCARD_PROTOCOL_T0, SCARD_PROTOCOL_T1}) {
    SCOPED_TRACE(protocol);
    ASSERT_EQ(client.connect(pcscd_->handlerReaderName(), SCARD_SHARE_SHARED, protocol),
              SCARD_S_SUCCESS);
    EXPECT_EQ(client.protocol(), protocol);
    EXPECT_EQ(client.transmit(kSelectPurse), (Bytes{0x90, 0x00}));
    EXPECT_EQ(client.transmit(kReadBalance), kBalanceRecord);
    client.disconnect(SCARD_RESET_CARD);
  }
}

TEST_F(SerialReader, AnswersItsAttributesAndControls) {
  PcscClient client;
  ASSERT_EQ(client.connect(pcscd_->handlerReaderName(), SCARD_SHARE_DIRECT, 0), SCARD_S_SUCCESS);
  Bytes value;
  EXPECT_EQ(client.attribute(SCARD_ATTR_VENDOR_NAME, value), SCARD_S_SUCCESS);
  EXPECT_FALSE(value.empty());
  EXPECT_EQ(client.attribute(SCARD_ATTR_VENDOR_IFD_TYPE, value), SCARD_S_SUCCESS);
  EXPECT_FALSE(value.empty());
  EXPECT_EQ(client.attribute(SCARD_ATTR_ESC_RESET, value), SCARD_E_UNSUPPORTED_FEATURE);
  EXPECT_EQ(client.control(kGetFeatureRequest, {}, value), SCARD_S_SUCCESS);
  EXPECT_EQ(value, featureList());
  EXPECT_EQ(client.control(0x42000000 + 3600, {}, value), SCARD_E_UNSUPPORTED_FEATURE);

  ASSERT_EQ(client.connect(pcscd_->handlerReaderName(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1),
            SCARD_S_SUCCESS);
  Bytes atr;
  EXPECT_EQ(client.attribute(SCARD_ATTR_ATR_STRING, atr), SCARD_S_SUCCESS);
  EXPECT_FALSE(atr.empty());
}

}  // namespace
}  // namespace k52::ifd::test

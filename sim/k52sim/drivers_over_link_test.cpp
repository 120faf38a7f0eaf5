// The drivers on a PC whose K52 keyboard is k52sim behind the port link,
// on real time: a balance read through the reader driver, cards inserted
// and pulled with k52sim's commands as the reader sees them, and a PIN typed
// on the keypad when k52sim is told to.
#include <gtest/gtest.h>

#include "drivers/reader/test_reader_rig.h"
#include "platform/nt/kbdclass/keyboard_class.h"
#include "platform/nt/port_link/port_link.h"
#include "platform/nt/real_scheduler.h"
#include "sim/k52sim/test_k52sim.h"

namespace k52::sim {
namespace {

using varnel::ReaderRig;
using Bytes = std::vector<std::uint8_t>;

// The PC: the kernel on real time with the link mapped where the keyboard's
// ports are, the keyboard class driver and keystroke reader, vrlPCSC and
// varnel, as the card-terminal host composes them.
class PcOverLink {
 public:
  explicit PcOverLink(const win32::Prefix& prefix)
      : kernel_(std::make_unique<nt::RealScheduler>(), prefix),
        link_(nt::PortLink::connect(nt::keyboardSocketPath(prefix))) {
    kernel_.bus().map(Pic::kMaskPort, 1, *link_);
    kernel_.bus().map(Controller8042::kDataPort, 5, *link_);
    link_->onIrq1([this] { kernel_.scheduler().interrupt(nt::kbdclass::KeyboardInterrupt); });
    if (kernel_.loadDriver(L"kbdclass", nt::kbdclass::KeyboardClassEntry) != nt::STATUS_SUCCESS) {
      throw std::runtime_error("the keyboard class driver did not start");
    }
    reader_.start();
    channel_ = kernel_.loadDriver(kbdchannel::kDriverName, kbdchannel::DriverEntry);
    varnel_ = kernel_.loadDriver(varnel::kDriverName, varnel::DriverEntry);
  }
  ~PcOverLink() {
    handle_.reset();
    if (nt::NT_SUCCESS(varnel_)) kernel_.unloadDriver(varnel::kDriverName);
    if (nt::NT_SUCCESS(channel_)) kernel_.unloadDriver(kbdchannel::kDriverName);
    reader_.stop();
    kernel_.unloadDriver(L"kbdclass");
    kernel_.bus().unmap(Controller8042::kDataPort);
    kernel_.bus().unmap(Pic::kMaskPort);
    link_.reset();
  }

  bool started() const { return nt::NT_SUCCESS(channel_) && nt::NT_SUCCESS(varnel_); }

  ReaderRig::Reply control(nt::ULONG code, const Bytes& in, std::size_t outSize) {
    if (!handle_) handle_ = kernel_.openDevice(varnel::kDeviceName);
    if (!handle_) return {nt::STATUS_OBJECT_NAME_NOT_FOUND, {}};
    Bytes out(outSize);
    const auto result = handle_->deviceIoControl(code, in, out);
    out.resize(result.bytesReturned);
    return {result.status, out};
  }
  ReaderRig::Reply transmit(nt::ULONG protocol, const Bytes& apdu) {
    auto reply =
        control(nt::IOCTL_SMARTCARD_TRANSMIT, ReaderRig::transmitInput(protocol, apdu), 8 + 258);
    if (reply.out.size() >= 8) reply.out.erase(reply.out.begin(), reply.out.begin() + 8);
    return reply;
  }

 private:
  nt::Kernel kernel_;
  std::unique_ptr<nt::PortLink> link_;
  nt::KeystrokeReader reader_;
  nt::NTSTATUS channel_ = nt::STATUS_UNSUCCESSFUL;
  nt::NTSTATUS varnel_ = nt::STATUS_UNSUCCESSFUL;
  std::unique_ptr<nt::DeviceHandle> handle_;
};

TEST(DriversOverLink, BalanceCardChangesAndKeypadPinReachTheDrivers) {
  win32::TempDir dir;
  const win32::Prefix prefix(dir.path());
  win32::Registry(prefix).set(win32::RootKey::LocalMachine,
                              "System\\CurrentControlSet\\Services\\vrlPCSC\\Parameters",
                              "KeyboardCWT", std::uint32_t{2});
  test::K52simProcess k52sim(dir.path(), {});
  ASSERT_EQ(k52sim.readLine(), nt::keyboardSocketPath(prefix).string());
  ASSERT_EQ(test::runK52sim(dir.path(), {"insert", "purse:1234"}).status, 0);

  PcOverLink pc(prefix);
  ASSERT_TRUE(pc.started());
  ASSERT_EQ(
      pc.control(nt::IOCTL_SMARTCARD_POWER, ReaderRig::ulong(nt::SCARD_COLD_RESET), 64).status,
      nt::STATUS_SUCCESS);
  const auto protocol =
      pc.control(nt::IOCTL_SMARTCARD_SET_PROTOCOL, ReaderRig::ulong(nt::SCARD_PROTOCOL_Tx), 4);
  ASSERT_EQ(protocol.status, nt::STATUS_SUCCESS);
  const nt::ULONG active = ReaderRig::ulongOf(protocol.out);
  EXPECT_EQ(pc.transmit(active, varnel::kSelectPurse).out, (Bytes{0x90, 0x00}));
  EXPECT_EQ(pc.transmit(active, varnel::kReadBalance).out, varnel::kBalanceRecord);

  EXPECT_EQ(test::runK52sim(dir.path(), {"status"}).output,
            "card in slot: yes\nPC connected: yes\n");
  ASSERT_EQ(test::runK52sim(dir.path(), {"pull"}).status, 0);
  EXPECT_EQ(pc.control(nt::IOCTL_SMARTCARD_IS_ABSENT, {}, 0).status, nt::STATUS_SUCCESS);
  ASSERT_EQ(test::runK52sim(dir.path(), {"insert", "pin:1234:t0"}).status, 0);
  EXPECT_EQ(pc.control(nt::IOCTL_SMARTCARD_IS_PRESENT, {}, 0).status, nt::STATUS_SUCCESS);

  ASSERT_EQ(
      pc.control(nt::IOCTL_SMARTCARD_POWER, ReaderRig::ulong(nt::SCARD_COLD_RESET), 64).status,
      nt::STATUS_SUCCESS);
  ASSERT_EQ(pc.control(nt::IOCTL_SMARTCARD_SET_PROTOCOL, ReaderRig::ulong(nt::SCARD_PROTOCOL_T0), 4)
                .status,
            nt::STATUS_SUCCESS);
  const Bytes selectPin = {0x00, 0xA4, 0x04, 0x0C, 0x08, 0xD2, 0x76,
                           0x00, 0x00, 0x98, 0x50, 0x49, 0x4E};
  ASSERT_EQ(pc.transmit(nt::SCARD_PROTOCOL_T0, selectPin).out, (Bytes{0x90, 0x00}));
  ASSERT_EQ(test::runK52sim(dir.path(), {"pin-keys", "1234E"}).status, 0);
  // The keyboard's PIN verification as the CT-API library sends it.
  const Bytes verify = {0x6D, 0x52, 0x10, 0xC1, 0x05, 0x05, 0x00, 0x20, 0x00, 0x81,
                        0x08, 0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const auto answer = pc.control(varnel::IOCTL_VARNEL_VENDOR, verify, 32);
  EXPECT_EQ(answer.status, nt::STATUS_SUCCESS);
  EXPECT_EQ(answer.out, (Bytes{0x90, 0x00}));
}

}  // namespace
}  // namespace k52::sim

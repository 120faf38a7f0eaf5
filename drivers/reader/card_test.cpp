// Card operations and card tracking against the K52 terminal's firmware.
#include <gtest/gtest.h>

#include "drivers/reader/test_reader_rig.h"
#include "sim/card/pin_application.h"

namespace k52::varnel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes tail(const Bytes& bytes, std::size_t n) {
  return Bytes(bytes.end() - static_cast<std::ptrdiff_t>(std::min(n, bytes.size())), bytes.end());
}

TEST(ReaderCard, ACardInsertedAtStartIsPoweredAndSpeaksT0) {
  ReaderRig rig;
  rig.insertPurse();
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  EXPECT_GE(rig.state(), nt::SCARD_POWERED);
  const auto atr = rig.power(nt::SCARD_COLD_RESET);
  ASSERT_EQ(atr.status, nt::STATUS_SUCCESS);
  EXPECT_EQ(atr.out, rig.attribute(nt::SCARD_ATTR_ATR_STRING).out);
  const auto selected = rig.setProtocol(nt::SCARD_PROTOCOL_T0 | nt::SCARD_PROTOCOL_T1);
  ASSERT_EQ(selected.status, nt::STATUS_SUCCESS);
  EXPECT_EQ(ReaderRig::ulongOf(selected.out), nt::SCARD_PROTOCOL_T0);
  EXPECT_EQ(rig.state(), nt::SCARD_SPECIFIC);
  EXPECT_EQ(rig.transmit(nt::SCARD_PROTOCOL_T0, kSelectPurse).out, (Bytes{0x90, 0x00}));
  const auto record = rig.transmit(nt::SCARD_PROTOCOL_T0, kReadBalance);
  EXPECT_EQ(record.status, nt::STATUS_SUCCESS);
  EXPECT_EQ(tail(record.out, 2), (Bytes{0x90, 0x00}));
}

TEST(ReaderCard, SelectingTheSelectedProtocolAgainAnswersIt) {
  ReaderRig rig;
  rig.insertPurse();
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  ASSERT_EQ(rig.setProtocol(nt::SCARD_PROTOCOL_T0).status, nt::STATUS_SUCCESS);
  for (const nt::ULONG mask : {nt::SCARD_PROTOCOL_T0, nt::SCARD_PROTOCOL_Tx}) {
    const auto again = rig.setProtocol(mask);
    EXPECT_EQ(again.status, nt::STATUS_SUCCESS) << mask;
    EXPECT_EQ(again.out, ReaderRig::ulong(nt::SCARD_PROTOCOL_T0)) << mask;
  }
}

TEST(ReaderCard, ACardOfferingOnlyT1IsSwitchedToItAtReset) {
  ReaderRig rig;
  rig.insertPurse(sim::AtrProtocols::kT1);
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  ASSERT_EQ(rig.power(nt::SCARD_COLD_RESET).status, nt::STATUS_SUCCESS);
  EXPECT_EQ(rig.state(), nt::SCARD_SPECIFIC);
  EXPECT_EQ(ReaderRig::ulongOf(rig.attribute(nt::SCARD_ATTR_CURRENT_PROTOCOL_TYPE).out),
            nt::SCARD_PROTOCOL_T1);
  EXPECT_TRUE(rig.terminal().t1Mode());
  EXPECT_EQ(rig.transmit(nt::SCARD_PROTOCOL_T1, kSelectPurse).out, (Bytes{0x90, 0x00}));
  const auto record = rig.transmit(nt::SCARD_PROTOCOL_T1, kReadBalance);
  EXPECT_EQ(record.status, nt::STATUS_SUCCESS);
  EXPECT_EQ(tail(record.out, 2), (Bytes{0x90, 0x00}));
}

TEST(ReaderCard, PowerDownWithoutACardSucceeds) {
  ReaderRig rig;
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  EXPECT_EQ(rig.power(nt::SCARD_POWER_DOWN).status, nt::STATUS_SUCCESS);
  EXPECT_EQ(rig.state(), nt::SCARD_ABSENT);
  EXPECT_EQ(rig.transmit(nt::SCARD_PROTOCOL_T0, kReadBalance).status,
            nt::STATUS_INVALID_DEVICE_STATE);
}

TEST(ReaderTracking, RequestsWaitForThePollAfterTheChange) {
  ReaderRig rig;
  rig.insertPurse();
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  const Duration started = rig.scheduler().now();
  // The card goes at 12 s; the first poll runs 10 s after creation, then
  // every 1.1 s.
  rig.scheduler().schedule(
      12s, [&] { rig.terminal().pullCard(); }, nt::EventKind::Device);
  const auto absent = rig.control(nt::IOCTL_SMARTCARD_IS_ABSENT, {}, 0);
  const Duration gone = rig.scheduler().now() - started;
  EXPECT_EQ(absent.status, nt::STATUS_SUCCESS);
  EXPECT_GT(gone, 12s);
  EXPECT_LT(gone, 13600ms);
  EXPECT_EQ(rig.state(), nt::SCARD_ABSENT);
  EXPECT_EQ(ReaderRig::ulongOf(rig.attribute(0x7AEEE).out), 1u);

  rig.scheduler().schedule(
      3s, [&] { rig.insertPurse(); }, nt::EventKind::Device);
  const Duration before = rig.scheduler().now();
  EXPECT_EQ(rig.control(nt::IOCTL_SMARTCARD_IS_PRESENT, {}, 0).status, nt::STATUS_SUCCESS);
  const Duration came = rig.scheduler().now() - before;
  EXPECT_GT(came, 3s);
  EXPECT_LT(came, 4600ms);
  // The card-changed flag stays until it is read with a powered card.
  EXPECT_EQ(ReaderRig::ulongOf(rig.attribute(0x7AEEE).out), 1u);
  ASSERT_EQ(rig.power(nt::SCARD_COLD_RESET).status, nt::STATUS_SUCCESS);
  EXPECT_EQ(ReaderRig::ulongOf(rig.attribute(0x7AEEE).out), 1u);
  EXPECT_EQ(ReaderRig::ulongOf(rig.attribute(0x7AEEE).out), 0u);
}

TEST(ReaderTracking, CancelAndCleanupCompleteAWaitingRequestWithSuccess) {
  ReaderRig rig;
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  rig.closeHandle();
  nt::UNICODE_STRING name;
  nt::RtlInitUnicodeString(&name, kDeviceName);
  nt::PFILE_OBJECT file = nullptr;
  nt::PDEVICE_OBJECT device = nullptr;
  ASSERT_EQ(nt::IoGetDeviceObjectPointer(&name, nt::FILE_ALL_ACCESS, &file, &device),
            nt::STATUS_SUCCESS);
  struct Waiting {
    nt::KEVENT done;
    nt::IO_STATUS_BLOCK iosb{};
    nt::PIRP irp = nullptr;
  };
  // A presence request with no card: it waits.
  const auto issue = [&](Waiting& w) {
    nt::KeInitializeEvent(&w.done, nt::NotificationEvent, nt::FALSE);
    w.irp = nt::IoBuildDeviceIoControlRequest(nt::IOCTL_SMARTCARD_IS_PRESENT, device, nullptr, 0,
                                              nullptr, 0, nt::FALSE, &w.done, &w.iosb);
    nt::IoGetNextIrpStackLocation(w.irp)->FileObject = file;
    return nt::IoCallDriver(device, w.irp);
  };
  const auto completed = [&](Waiting& w) {
    nt::LARGE_INTEGER wait = nt::relativeMs(1000);
    return nt::KeWaitForSingleObject(&w.done, nt::Executive, nt::KernelMode, nt::FALSE, &wait) ==
           nt::STATUS_SUCCESS;
  };
  Waiting cancelled;
  ASSERT_EQ(issue(cancelled), nt::STATUS_PENDING);
  rig.run(50ms);
  nt::IoCancelIrp(cancelled.irp);
  ASSERT_TRUE(completed(cancelled));
  EXPECT_EQ(cancelled.iosb.Status, nt::STATUS_SUCCESS);  // not STATUS_CANCELLED
  EXPECT_EQ(cancelled.iosb.Information, 0u);

  Waiting cleanedUp;
  ASSERT_EQ(issue(cleanedUp), nt::STATUS_PENDING);
  rig.run(50ms);
  nt::ObDereferenceObject(file);  // the issuer goes away
  ASSERT_TRUE(completed(cleanedUp));
  EXPECT_EQ(cleanedUp.iosb.Status, nt::STATUS_SUCCESS);
}

TEST(ReaderTracking, TheFirstPollRunsTenSecondsAfterCreation) {
  ReaderRig rig;
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  rig.pc().wiring().hostBytes().clear();
  rig.run(9900ms);
  EXPECT_TRUE(rig.pc().wiring().hostBytes().bytes().empty());
  rig.run(300ms);
  EXPECT_FALSE(rig.pc().wiring().hostBytes().bytes().empty());
}

TEST(ReaderPin, TheKeypadPinReachesTheCard) {
  ReaderRig rig;
  ASSERT_NO_FATAL_FAILURE(startWithSelectedPinCard(rig));

  // The person types 1 2 3 4 Enter once the terminal asks.
  rig.terminal().onPinEntry([&] {
    const std::uint8_t keys[] = {0x02, 0x03, 0x04, 0x05, 0x1C};
    rig.pc().keyboard().type(keys);
  });
  // As the CT-API library sends it: the position byte doubled.
  const Bytes verify = {0x6D, 0x52, 0x10, 0xC1, 0x05, 0x05, 0x00, 0x20, 0x00, 0x81,
                        0x08, 0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const auto answer = rig.control(IOCTL_VARNEL_VENDOR, verify, 32);
  EXPECT_EQ(answer.status, nt::STATUS_SUCCESS);
  EXPECT_EQ(answer.out, (Bytes{0x90, 0x00}));
  EXPECT_TRUE(rig.pc().reader().codes().empty());  // the digits never reached the host
}

TEST(ReaderPin, OnlyTheVendorRequestSendsThePinFrameAndOnlyOnce) {
  ReaderRig rig;
  ASSERT_NO_FATAL_FAILURE(startWithSelectedPinCard(rig));
  int entries = 0;
  rig.terminal().onPinEntry([&] {
    ++entries;
    const std::uint8_t keys[] = {0x02, 0x03, 0x04, 0x05, 0x1C};
    rig.pc().keyboard().type(keys);
  });
  const Bytes verify = {0x6D, 0x52, 0x10, 0xC1, 0x05, 0x05, 0x00, 0x20, 0x00, 0x81,
                        0x08, 0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(rig.control(IOCTL_VARNEL_VENDOR, verify, 32).out, (Bytes{0x90, 0x00}));
  ASSERT_EQ(entries, 1);

  // Requests the library hands to the vendor function as well.
  struct Stray {
    const char* what;
    nt::ULONG code;
    Bytes in;
  };
  const Stray strays[] = {
      {"unknown control code", nt::SCARD_CTL_CODE(3000), {}},
      {"vendor attribute", nt::IOCTL_SMARTCARD_GET_ATTRIBUTE,
       ReaderRig::ulong(nt::SCARD_ATTR_VALUE(nt::SCARD_CLASS_VENDOR_DEFINED, 0x0001))},
  };
  for (const Stray& stray : strays) {
    EXPECT_EQ(rig.control(stray.code, stray.in, 32).status, nt::STATUS_INVALID_DEVICE_REQUEST)
        << stray.what;
    EXPECT_EQ(entries, 1) << stray.what;
  }
  EXPECT_EQ(rig.control(IOCTL_VARNEL_VENDOR, verify, 32).out, (Bytes{0x90, 0x00}));
  EXPECT_EQ(entries, 2);
}

}  // namespace
}  // namespace k52::varnel

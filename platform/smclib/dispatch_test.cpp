// The standard smart card requests through SmartcardDeviceControl, from an
// application's handle through the kernel model to a small reader driver.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/nt/test_kernel.h"
#include "platform/smclib/test_reader.h"

namespace k52::nt {
namespace {

using namespace std::chrono_literals;
using testing::bytes;

constexpr ULONG kVendorRequest = CTL_CODE(0x33, 0, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kVendorAttribute = SCARD_ATTR_VALUE(SCARD_CLASS_VENDOR_DEFINED, 0xAEEE);
const char* const kAtr = "3B 02 14 50";

// What the reader functions see and do.
struct Reader {
  SMARTCARD_EXTENSION* ext = nullptr;
  PDEVICE_OBJECT device = nullptr;
  UNICODE_STRING link{};
  std::vector<ULONG> calls;  // RDF_* in call order
  std::vector<UCHAR> tpdu;   // the last command sent to the card
  KEVENT cardAnswers;        // transmit waits for it when `slowCard`
  bool slowCard = false;
  bool insertWhileTracking = false;  // a poll sees the card as the request comes in
} reader;

std::vector<UCHAR> toBytes(ULONG value) {
  std::vector<UCHAR> v(sizeof value);
  std::memcpy(v.data(), &value, sizeof value);
  return v;
}

NTSTATUS power(PSMARTCARD_EXTENSION ext) {
  reader.calls.push_back(RDF_CARD_POWER);
  auto& caps = ext->CardCapabilities;
  if (ext->MinorIoControlCode == SCARD_POWER_DOWN) {
    caps.ATR.Length = 0;
    ext->ReaderCapabilities.CurrentState = SCARD_SWALLOWED;
    return STATUS_SUCCESS;
  }
  const auto atr = bytes(kAtr);
  std::copy(atr.begin(), atr.end(), caps.ATR.Buffer);
  caps.ATR.Length = static_cast<UCHAR>(atr.size());
  ext->ReaderCapabilities.CurrentState = SCARD_NEGOTIABLE;
  SmartcardUpdateCardCapabilities(ext);
  if (ext->IoRequest.ReplyBufferLength < atr.size()) return STATUS_BUFFER_TOO_SMALL;
  std::copy(atr.begin(), atr.end(), ext->IoRequest.ReplyBuffer);
  *ext->IoRequest.Information = atr.size();
  return STATUS_SUCCESS;
}

NTSTATUS setProtocol(PSMARTCARD_EXTENSION ext) {
  reader.calls.push_back(RDF_SET_PROTOCOL);
  const ULONG selected = ext->MinorIoControlCode & ext->CardCapabilities.Protocol.Supported;
  if (selected == 0) return STATUS_NOT_SUPPORTED;
  ext->CardCapabilities.Protocol.Selected = selected;
  ext->ReaderCapabilities.CurrentState = SCARD_SPECIFIC;
  std::memcpy(ext->IoRequest.ReplyBuffer, &selected, sizeof selected);
  *ext->IoRequest.Information = sizeof selected;
  return STATUS_SUCCESS;
}

// A T=0 card that answers every command with AA BB 90 00.
NTSTATUS transmit(PSMARTCARD_EXTENSION ext) {
  reader.calls.push_back(RDF_TRANSMIT);
  if (reader.slowCard)
    KeWaitForSingleObject(&reader.cardAnswers, Executive, KernelMode, FALSE, nullptr);
  ext->SmartcardRequest.BufferLength = 0;
  NTSTATUS status = SmartcardT0Request(ext);
  if (!NT_SUCCESS(status)) return status;
  reader.tpdu.assign(ext->SmartcardRequest.Buffer,
                     ext->SmartcardRequest.Buffer + ext->SmartcardRequest.BufferLength);
  const auto answer = bytes("AA BB 90 00");
  std::copy(answer.begin(), answer.end(), ext->SmartcardReply.Buffer);
  ext->SmartcardReply.BufferLength = static_cast<ULONG>(answer.size());
  return SmartcardT0Reply(ext);
}

NTSTATUS tracking(PSMARTCARD_EXTENSION ext) {
  reader.calls.push_back(RDF_CARD_TRACKING);
  if (reader.insertWhileTracking) ext->ReaderCapabilities.CurrentState = SCARD_SWALLOWED;
  return STATUS_PENDING;
}

// Vendor requests and attributes: the input comes back.
NTSTATUS vendor(PSMARTCARD_EXTENSION ext) {
  reader.calls.push_back(RDF_IOCTL_VENDOR);
  const ULONG n = std::min(ext->IoRequest.RequestBufferLength, ext->IoRequest.ReplyBufferLength);
  std::memmove(ext->IoRequest.ReplyBuffer, ext->IoRequest.RequestBuffer, n);
  *ext->IoRequest.Information = n;
  return STATUS_SUCCESS;
}

NTSTATUS createClose(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_SUCCESS;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_SUCCESS;
}

NTSTATUS deviceControl(PDEVICE_OBJECT device, PIRP irp) {
  return SmartcardDeviceControl(static_cast<PSMARTCARD_EXTENSION>(device->DeviceExtension), irp);
}

void unload(PDRIVER_OBJECT) {
  SmartcardExit(reader.ext);
  SmartcardDeleteLink(&reader.link);
  IoDeleteDevice(reader.device);
}

void setString(auto& field, const char* text) {
  field.Length = static_cast<USHORT>(std::strlen(text) + 1);
  std::memcpy(field.Buffer, text, field.Length);
}

NTSTATUS driverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  driver->MajorFunction[IRP_MJ_CREATE] = createClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = createClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = createClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = deviceControl;
  driver->DriverUnload = unload;
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"\\Device\\TestReader0");
  NTSTATUS status = IoCreateDevice(driver, sizeof(SMARTCARD_EXTENSION), &name,
                                   FILE_DEVICE_SMARTCARD, 0, FALSE, &reader.device);
  if (!NT_SUCCESS(status)) return status;
  reader.device->Flags |= DO_BUFFERED_IO;
  PSMARTCARD_EXTENSION ext = reader.ext =
      static_cast<PSMARTCARD_EXTENSION>(reader.device->DeviceExtension);
  ext->Version = SMCLIB_VERSION;
  setString(ext->VendorAttr.VendorName, "Maker");
  setString(ext->VendorAttr.IfdType, "Reader B");
  ext->VendorAttr.UnitNo = 3;
  auto& caps = ext->ReaderCapabilities;
  caps.SupportedProtocols = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;
  caps.ReaderType = SCARD_READER_TYPE_KEYBOARD;
  caps.Channel = 2;
  caps.CLKFrequency = {5000, 5000};
  caps.DataRate = {13440, 13440};
  caps.MaxIFSD = 254;
  caps.CurrentState = SCARD_ABSENT;
  ext->ReaderFunction[RDF_CARD_POWER] = power;
  ext->ReaderFunction[RDF_TRANSMIT] = transmit;
  ext->ReaderFunction[RDF_SET_PROTOCOL] = setProtocol;
  ext->ReaderFunction[RDF_CARD_TRACKING] = tracking;
  ext->ReaderFunction[RDF_IOCTL_VENDOR] = vendor;
  status = SmartcardInitialize(ext);
  if (!NT_SUCCESS(status)) return status;
  ext->OsData->DeviceObject = reader.device;
  return SmartcardCreateLink(&reader.link, &name);
}

class DispatchTest : public ::testing::Test {
 protected:
  DispatchTest() : kernel_(std::make_unique<VirtualScheduler>(1)) {
    reader = {};
    KeInitializeEvent(&reader.cardAnswers, NotificationEvent, FALSE);
    EXPECT_EQ(kernel_.loadDriver(L"TestReader", driverEntry), STATUS_SUCCESS);
    handle_ = kernel_.openDevice(L"\\\\.\\SCReader0");
  }
  ~DispatchTest() override {
    handle_.reset();
    kernel_.unloadDriver(L"TestReader");
  }

  struct Answer {
    NTSTATUS status;
    std::vector<UCHAR> out;
  };
  Answer call(ULONG code, const std::vector<UCHAR>& in, std::size_t outSize = 64) {
    std::vector<UCHAR> out(outSize);
    const auto result = handle_->deviceIoControl(code, in, out);
    out.resize(result.bytesReturned);
    return {result.status, out};
  }
  Answer attribute(ULONG tag) { return call(IOCTL_SMARTCARD_GET_ATTRIBUTE, toBytes(tag)); }
  ULONG state() {
    const Answer a = call(IOCTL_SMARTCARD_GET_STATE, {});
    ULONG v = 0;
    if (a.out.size() == sizeof v) std::memcpy(&v, a.out.data(), sizeof v);
    return v;
  }
  // Issues a request from an application thread; *done is set with its answer.
  void callLater(ULONG code, std::vector<UCHAR> in, Answer* answer, bool* done) {
    kernel_.scheduler().startThread("application", [=, this] {
      *answer = call(code, in);
      *done = true;
    });
  }
  bool runUntil(const std::function<bool()>& done) {
    return kernel_.scheduler().runUntil(done, 1s);
  }

  Kernel kernel_;
  std::unique_ptr<DeviceHandle> handle_;
};

TEST_F(DispatchTest, BuffersAreCheckedBeforeTheReaderIsCalled) {
  ASSERT_NE(handle_, nullptr);
  std::vector<UCHAR> badHeader = toBytes(SCARD_PROTOCOL_T0);
  const auto tooLong = toBytes(100);
  badHeader.insert(badHeader.end(), tooLong.begin(), tooLong.end());
  struct Row {
    const char* what;
    ULONG code;
    std::vector<UCHAR> in;
    std::size_t out;
    NTSTATUS status;
  } rows[] = {
      {"state into 2 bytes", IOCTL_SMARTCARD_GET_STATE, {}, 2, STATUS_BUFFER_TOO_SMALL},
      {"power without a code", IOCTL_SMARTCARD_POWER, {}, 64, STATUS_INVALID_PARAMETER},
      {"protocol without room", IOCTL_SMARTCARD_SET_PROTOCOL, toBytes(1), 2,
       STATUS_BUFFER_TOO_SMALL},
      {"transmit without a header",
       IOCTL_SMARTCARD_TRANSMIT,
       {1, 0, 0, 0},
       64,
       STATUS_BUFFER_TOO_SMALL},
      {"transmit with a header beyond the input", IOCTL_SMARTCARD_TRANSMIT, badHeader, 64,
       STATUS_INVALID_PARAMETER},
      {"attribute without a tag",
       IOCTL_SMARTCARD_GET_ATTRIBUTE,
       {1, 2},
       64,
       STATUS_INVALID_PARAMETER},
      {"vendor name into 3 bytes", IOCTL_SMARTCARD_GET_ATTRIBUTE, toBytes(SCARD_ATTR_VENDOR_NAME),
       3, STATUS_BUFFER_TOO_SMALL},
      {"unknown attribute", IOCTL_SMARTCARD_GET_ATTRIBUTE, toBytes(SCARD_ATTR_VALUE(1, 0x199)), 64,
       STATUS_NOT_SUPPORTED},
      {"ATR with no card", IOCTL_SMARTCARD_GET_ATTRIBUTE, toBytes(SCARD_ATTR_ATR_STRING), 64,
       STATUS_INVALID_DEVICE_STATE},
  };
  for (const Row& row : rows) {
    const Answer a = call(row.code, row.in, row.out);
    EXPECT_EQ(a.status, row.status) << row.what;
    EXPECT_TRUE(a.out.empty()) << row.what;
  }
  EXPECT_TRUE(reader.calls.empty());
  const Answer last = call(IOCTL_SMARTCARD_GET_LAST_ERROR, {});
  EXPECT_EQ(last.out, toBytes(static_cast<ULONG>(STATUS_INVALID_DEVICE_STATE)));
}

TEST_F(DispatchTest, AttributesComeFromTheVendorAttributesAndCapabilities) {
  struct Row {
    ULONG tag;
    std::vector<UCHAR> value;
  } rows[] = {
      {SCARD_ATTR_VENDOR_NAME, {'M', 'a', 'k', 'e', 'r', 0}},
      {SCARD_ATTR_VENDOR_IFD_TYPE, {'R', 'e', 'a', 'd', 'e', 'r', ' ', 'B', 0}},
      {SCARD_ATTR_DEVICE_UNIT, toBytes(3)},
      {SCARD_ATTR_CHANNEL_ID, toBytes((SCARD_READER_TYPE_KEYBOARD << 16) | 2)},
      {SCARD_ATTR_PROTOCOL_TYPES, toBytes(SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1)},
      {SCARD_ATTR_DEFAULT_CLK, toBytes(5000)},
      {SCARD_ATTR_MAX_DATA_RATE, toBytes(13440)},
      {SCARD_ATTR_MAX_IFSD, toBytes(254)},
      {SCARD_ATTR_ICC_PRESENCE, toBytes(0)},
      {SCARD_ATTR_CURRENT_PROTOCOL_TYPE, toBytes(0)},
  };
  for (const Row& row : rows) {
    const Answer a = attribute(row.tag);
    EXPECT_EQ(a.status, STATUS_SUCCESS) << std::hex << row.tag;
    EXPECT_EQ(a.out, row.value) << std::hex << row.tag;
  }
  // Vendor-defined attributes and requests belong to the reader.
  EXPECT_EQ(attribute(kVendorAttribute).out, toBytes(kVendorAttribute));
  EXPECT_EQ(call(kVendorRequest, {0x6D, 1, 2}).out, (std::vector<UCHAR>{0x6D, 1, 2}));
  EXPECT_EQ(reader.calls, (std::vector<ULONG>{RDF_IOCTL_VENDOR, RDF_IOCTL_VENDOR}));
}

TEST_F(DispatchTest, PowerProtocolAndTransmitReachTheReader) {
  EXPECT_EQ(state(), SCARD_ABSENT);
  const Answer atr = call(IOCTL_SMARTCARD_POWER, toBytes(SCARD_COLD_RESET));
  EXPECT_EQ(atr.status, STATUS_SUCCESS);
  EXPECT_EQ(atr.out, bytes(kAtr));
  EXPECT_EQ(state(), SCARD_NEGOTIABLE);
  EXPECT_EQ(attribute(SCARD_ATTR_ATR_STRING).out, bytes(kAtr));

  const Answer protocol = call(IOCTL_SMARTCARD_SET_PROTOCOL, toBytes(SCARD_PROTOCOL_Tx));
  EXPECT_EQ(protocol.out, toBytes(SCARD_PROTOCOL_T0));
  EXPECT_EQ(state(), SCARD_SPECIFIC);
  EXPECT_EQ(attribute(SCARD_ATTR_CURRENT_PROTOCOL_TYPE).out, toBytes(SCARD_PROTOCOL_T0));

  std::vector<UCHAR> in = toBytes(SCARD_PROTOCOL_T0);
  const auto pci = toBytes(sizeof(SCARD_IO_REQUEST));
  const auto apdu = bytes("00 B0 00 00 02");
  in.insert(in.end(), pci.begin(), pci.end());
  in.insert(in.end(), apdu.begin(), apdu.end());
  const Answer answer = call(IOCTL_SMARTCARD_TRANSMIT, in);
  EXPECT_EQ(answer.status, STATUS_SUCCESS);
  std::vector<UCHAR> expected = toBytes(SCARD_PROTOCOL_T0);
  expected.insert(expected.end(), pci.begin(), pci.end());
  for (UCHAR b : bytes("AA BB 90 00")) expected.push_back(b);
  EXPECT_EQ(answer.out, expected);
  EXPECT_EQ(reader.tpdu, apdu);

  // An answer that does not fit: nothing comes back.
  EXPECT_EQ(call(IOCTL_SMARTCARD_POWER, toBytes(SCARD_WARM_RESET), 2).status,
            STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(call(IOCTL_SMARTCARD_POWER, toBytes(SCARD_POWER_DOWN)).status, STATUS_SUCCESS);
  EXPECT_EQ(state(), SCARD_SWALLOWED);
}

TEST_F(DispatchTest, OneRequestAtATime) {
  reader.slowCard = true;
  std::vector<UCHAR> in = toBytes(SCARD_PROTOCOL_T0);
  const auto pci = toBytes(sizeof(SCARD_IO_REQUEST));
  in.insert(in.end(), pci.begin(), pci.end());
  in.insert(in.end(), {0x00, 0xB0, 0x00, 0x00, 0x02});
  Answer slow;
  bool done = false;
  callLater(IOCTL_SMARTCARD_TRANSMIT, in, &slow, &done);
  ASSERT_TRUE(runUntil([] { return !reader.calls.empty(); }));
  EXPECT_EQ(call(IOCTL_SMARTCARD_GET_STATE, {}).status, STATUS_DEVICE_BUSY);
  KeSetEvent(&reader.cardAnswers, IO_NO_INCREMENT, FALSE);
  ASSERT_TRUE(runUntil([&] { return done; }));
  EXPECT_EQ(slow.status, STATUS_SUCCESS);
  EXPECT_EQ(call(IOCTL_SMARTCARD_GET_STATE, {}).status, STATUS_SUCCESS);
}

TEST_F(DispatchTest, TrackingRequestsWaitForTheCard) {
  // Already satisfied: answered at once, the reader is not asked.
  EXPECT_EQ(call(IOCTL_SMARTCARD_IS_ABSENT, {}).status, STATUS_SUCCESS);
  EXPECT_TRUE(reader.calls.empty());

  Answer present;
  bool done = false;
  callLater(IOCTL_SMARTCARD_IS_PRESENT, {}, &present, &done);
  ASSERT_TRUE(runUntil([] { return reader.ext->OsData->NotificationIrp != nullptr; }));
  EXPECT_EQ(reader.calls, std::vector<ULONG>{RDF_CARD_TRACKING});
  // Only one request waits at a time.
  EXPECT_EQ(call(IOCTL_SMARTCARD_IS_PRESENT, {}, 0).status, STATUS_DEVICE_BUSY);
  // Other requests go on meanwhile.
  EXPECT_EQ(state(), SCARD_ABSENT);

  reader.ext->ReaderCapabilities.CurrentState = SCARD_SWALLOWED;
  SmartcardCompleteCardTracking(reader.ext);
  ASSERT_TRUE(runUntil([&] { return done; }));
  EXPECT_EQ(present.status, STATUS_SUCCESS);
  EXPECT_EQ(reader.ext->OsData->NotificationIrp, nullptr);
  EXPECT_EQ(call(IOCTL_SMARTCARD_IS_PRESENT, {}).status, STATUS_SUCCESS);
}

TEST_F(DispatchTest, ACardArrivingAsTheRequestIsHandedOverIsNotMissed) {
  reader.insertWhileTracking = true;
  EXPECT_EQ(call(IOCTL_SMARTCARD_IS_PRESENT, {}).status, STATUS_SUCCESS);
  EXPECT_EQ(reader.ext->OsData->NotificationIrp, nullptr);
}

TEST_F(DispatchTest, AWaitingTrackingRequestCanBeCancelled) {
  Answer absent;
  bool done = false;
  reader.ext->ReaderCapabilities.CurrentState = SCARD_SPECIFIC;
  callLater(IOCTL_SMARTCARD_IS_ABSENT, {}, &absent, &done);
  ASSERT_TRUE(runUntil([] { return reader.ext->OsData->NotificationIrp != nullptr; }));
  EXPECT_TRUE(IoCancelIrp(reader.ext->OsData->NotificationIrp));
  ASSERT_TRUE(runUntil([&] { return done; }));
  EXPECT_EQ(absent.status, STATUS_CANCELLED);
  EXPECT_EQ(reader.ext->OsData->NotificationIrp, nullptr);
  // Completing afterwards finds nothing to complete.
  SmartcardCompleteCardTracking(reader.ext);
}

TEST_F(DispatchTest, ExitEndsAWaitingTrackingRequest) {
  Answer present;
  bool done = false;
  callLater(IOCTL_SMARTCARD_IS_PRESENT, {}, &present, &done);
  ASSERT_TRUE(runUntil([] { return reader.ext->OsData->NotificationIrp != nullptr; }));
  SmartcardExit(reader.ext);
  ASSERT_TRUE(runUntil([&] { return done; }));
  EXPECT_EQ(present.status, STATUS_CANCELLED);
  // A request after the exit is refused, not served from freed data.
  EXPECT_EQ(call(IOCTL_SMARTCARD_GET_STATE, {}).status, STATUS_INVALID_DEVICE_STATE);
}

TEST_F(DispatchTest, LinksAreNumberedByFreeSlot) {
  EXPECT_EQ(kernel_.findDevice(L"\\DosDevices\\SCReader0"), reader.device);
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"\\Device\\TestReader0");
  UNICODE_STRING second{};
  ASSERT_EQ(SmartcardCreateLink(&second, &name), STATUS_SUCCESS);
  EXPECT_EQ(std::wstring(second.Buffer, second.Length / sizeof(WCHAR)), L"\\DosDevices\\SCReader1");
  EXPECT_EQ(SmartcardDeleteLink(&second), STATUS_SUCCESS);
  EXPECT_EQ(kernel_.findDevice(L"\\DosDevices\\SCReader1"), nullptr);
}

}  // namespace
}  // namespace k52::nt

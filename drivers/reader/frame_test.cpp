// Reader creation and the terminal link, against a scripted terminal.
#include <gtest/gtest.h>

#include "drivers/reader/reader.h"
#include "drivers/reader/test_reader_rig.h"
#include "platform/nt/verifier/low_resources.h"

namespace k52::varnel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

const Bytes kNoCard = {0x64, 0x00, 0x00, 0x00, 0x00};

TEST(ReaderFrame, ComesUpOnTheKeyboardChannelWithDefaultsWhenCapabilitiesAreMissing) {
  sim::ScriptedFirmware terminal;
  terminal.addAnswer({0x64});   // 0x60
  terminal.addAnswer({});       // 0x69: no answer
  terminal.addAnswer(kNoCard);  // 0x65
  terminal.addAnswer(kNoCard);  // 0x65 of the first status update
  ReaderRig rig(terminal);
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  std::vector<Bytes> expected = {{0x60}, {0x69}, {0x65}, {0x65}};
  EXPECT_EQ(terminal.commands(), expected);
  EXPECT_EQ(rig.attribute(nt::SCARD_ATTR_VENDOR_NAME).out,
            (Bytes{'V', 'a', 'r', 'n', 'e', 'l', ' ', 'G', 'm', 'b', 'H', 0}));
  EXPECT_EQ(rig.state(), nt::SCARD_ABSENT);
}

// A capability answer: [0x68 0x60 n] then the entries.
Bytes capabilities(const Bytes& entries) {
  Bytes answer = {0x68, 0x60, static_cast<std::uint8_t>(5 + entries.size())};
  answer.insert(answer.end(), entries.begin(), entries.end());
  return answer;
}

Bytes tagged(std::uint8_t tag, const std::string& text) {
  Bytes entry = {tag, static_cast<std::uint8_t>(text.size())};
  entry.insert(entry.end(), text.begin(), text.end());
  return entry;
}

TEST(ReaderFrame, TheKeyboardChannelsDataEventHasItsName) {
  sim::ScriptedFirmware terminal;
  for (const Bytes& answer : {Bytes{0x64}, Bytes{}, kNoCard, kNoCard}) terminal.addAnswer(answer);
  ReaderRig rig(terminal);
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  nt::PDEVICE_OBJECT device = rig.pc().kernel().findDevice(kDeviceName);
  ASSERT_NE(device, nullptr);
  const nt::UNICODE_STRING& name =
      static_cast<nt::DEVICE_EXTENSION*>(device->DeviceExtension)->ReaderExtension.dataEventName;
  EXPECT_EQ(std::wstring(name.Buffer, name.Length / sizeof(wchar_t)),
            L"\\Device\\vrl_pcsc_server_has_datas");
}

TEST(ReaderFrame, CapabilityAnswerSetsIdentityAndOpensThePinPath) {
  Bytes entries = tagged(0x00, "Acme");
  const Bytes type = tagged(0x01, "K52-3");
  const Bytes suffix = tagged(0x02, "1B");
  const Bytes keyboard = {0x10, 4, 0x00, 0x04, 0x00, 0x00};
  const Bytes ifsd = {0x25, 2, 0x00, 0x01};  // 256, limited to 254
  for (const Bytes* e : {&type, &suffix, &keyboard, &ifsd}) {
    entries.insert(entries.end(), e->begin(), e->end());
  }
  sim::ScriptedFirmware terminal;
  for (const Bytes& answer : {Bytes{0x64}, capabilities(entries), kNoCard, kNoCard}) {
    terminal.addAnswer(answer);
  }
  ReaderRig rig(terminal);
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  EXPECT_EQ(rig.attribute(nt::SCARD_ATTR_VENDOR_NAME).out, (Bytes{'A', 'c', 'm', 'e', 0}));
  EXPECT_EQ(rig.attribute(nt::SCARD_ATTR_VENDOR_IFD_TYPE).out,
            (Bytes{'K', '5', '2', '-', '3', '1', 'B'}));
  EXPECT_EQ(ReaderRig::ulongOf(rig.attribute(nt::SCARD_ATTR_MAX_IFSD).out), 254u);
  const auto auth = rig.attribute(nt::SCARD_ATTR_USER_AUTH_INPUT_DEVICE);
  EXPECT_EQ(auth.status, nt::STATUS_SUCCESS);
  EXPECT_EQ(ReaderRig::ulongOf(auth.out), 6u);
}

TEST(ReaderFrame, AMalformedCapabilityAnswerStopsTheReader) {
  sim::ScriptedFirmware terminal;
  terminal.addAnswer({0x64});
  terminal.addAnswer({0x64, 0x60, 0x05});
  ReaderRig rig(terminal);
  EXPECT_EQ(rig.start(), nt::STATUS_NO_SUCH_DEVICE);
  EXPECT_EQ(rig.pc().kernel().findDevice(kDeviceName), nullptr);
}

TEST(ReaderFrame, NoReaderWhenTheSmartCardLibraryCannotStart) {
  sim::ScriptedFirmware terminal;
  for (const Bytes& answer : {Bytes{0x64}, Bytes{}, kNoCard, kNoCard}) terminal.addAnswer(answer);
  ReaderRig rig(terminal);
  {
    const nt::LowResourcesSimulation lowResources;
    EXPECT_EQ(rig.start(), nt::STATUS_NO_SUCH_DEVICE);
  }
  EXPECT_EQ(rig.pc().kernel().findDevice(kDeviceName), nullptr);
  EXPECT_TRUE(terminal.commands().empty());
}

TEST(ReaderFrame, TheVendorRequestNeedsAPinPadReader) {
  sim::ScriptedFirmware terminal;
  for (const Bytes& answer : {Bytes{0x64}, Bytes{}, kNoCard, kNoCard}) terminal.addAnswer(answer);
  ReaderRig rig(terminal);
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  const Bytes pin = {0x6D, 0x52, 0x05, 0x00, 0x20, 0x20, 0x00, 0x81};
  EXPECT_EQ(rig.control(IOCTL_VARNEL_VENDOR, pin, 32).status, nt::STATUS_NOT_SUPPORTED);
  // Without a keypad the authentication device attribute is the library's.
  EXPECT_NE(ReaderRig::ulongOf(rig.attribute(nt::SCARD_ATTR_USER_AUTH_INPUT_DEVICE).out), 6u);
}

TEST(ReaderFrame, TheVendorFunctionWithNothingStagedRefusesAndKeepsTheReplyTimeout) {
  sim::ScriptedFirmware terminal;
  for (const Bytes& answer :
       {Bytes{0x64}, capabilities(tagged(0x01, "K52-3100 Keyboard-Reader B")), kNoCard, kNoCard}) {
    terminal.addAnswer(answer);
  }
  ReaderRig rig(terminal);
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  EXPECT_EQ(rig.control(nt::SCARD_CTL_CODE(3000), {}, 32).status,
            nt::STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_EQ(terminal.commands().size(), 4u);  // nothing went to the terminal
  // The terminal says nothing more: the next exchange still gives up after
  // the usual 4 s and 1 s, not after a PIN entry's 15 s or 45 s.
  const Duration start = rig.scheduler().now();
  EXPECT_EQ(rig.power(nt::SCARD_COLD_RESET).status, nt::STATUS_UNRECOGNIZED_MEDIA);
  EXPECT_LT(rig.scheduler().now() - start, 5400ms);
}

TEST(ReaderFrame, StatusQueryGoesOutAsOneByteStringAndASilentTerminalFailsAfterFiveSeconds) {
  sim::ScriptedFirmware terminal;
  for (const Bytes& answer : {Bytes{0x64}, Bytes{}, kNoCard, kNoCard}) terminal.addAnswer(answer);
  ReaderRig rig(terminal);
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  rig.pc().wiring().hostBytes().clear();
  const Duration start = rig.scheduler().now();
  // The terminal says nothing more: the status query of a cold reset fails.
  const auto reply = rig.power(nt::SCARD_COLD_RESET);
  const Duration took = rig.scheduler().now() - start;
  EXPECT_EQ(reply.status, nt::STATUS_UNRECOGNIZED_MEDIA);
  EXPECT_EQ(rig.state(), nt::SCARD_SWALLOWED);
  const Bytes codes = rig.pc().wiring().hostBytes().bytes();
  ASSERT_GE(codes.size(), 6u);
  EXPECT_EQ(Bytes(codes.begin(), codes.begin() + 6), (Bytes{0xB0, 0xB0, 0xB0, 0xB1, 0xB6, 0xB5}));
  EXPECT_GE(took, 5100ms);
  EXPECT_LT(took, 5400ms);
}

TEST(ReaderFrame, WaitingForAnAnswerLeavesTheProcessorToOthers) {
  sim::ScriptedFirmware terminal;
  for (const Bytes& answer : {Bytes{0x64}, Bytes{}, kNoCard, kNoCard}) terminal.addAnswer(answer);
  ReaderRig rig(terminal);
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  // Five seconds of waiting for a status answer that never comes. The
  // channel busy-polls the keyboard's acknowledgments while it sends the
  // frame, a clock tick a byte (some 100 ms here); the wait must not.
  EXPECT_EQ(rig.power(nt::SCARD_COLD_RESET).status, nt::STATUS_UNRECOGNIZED_MEDIA);
  EXPECT_LT(rig.longestSpin(), 500ms);
}

}  // namespace
}  // namespace k52::varnel

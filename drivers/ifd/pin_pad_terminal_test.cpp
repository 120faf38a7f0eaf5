// A part 10 PIN verification, mapped for the terminal, through the reader
// driver to the K52 terminal's keypad and a PIN card.
#include <gtest/gtest.h>

#include "drivers/ifd/pin_pad.h"
#include "drivers/reader/test_reader_rig.h"
#include "sim/card/pin_application.h"

namespace k52::ifd {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(PinPadTerminal, AFormat2VerificationIsTypedOnTheKeypad) {
  varnel::ReaderRig rig;
  const Bytes reference = {0x24, 0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  rig.terminal().insertCard(
      std::make_shared<sim::Card>(sim::makePinCard(reference, sim::AtrProtocols::kT0)));
  ASSERT_EQ(rig.start(), nt::STATUS_SUCCESS);
  ASSERT_EQ(rig.setProtocol(nt::SCARD_PROTOCOL_T0).status, nt::STATUS_SUCCESS);
  const Bytes selectPin = {0x00, 0xA4, 0x04, 0x0C, 0x08, 0xD2, 0x76,
                           0x00, 0x00, 0x98, 0x50, 0x49, 0x4E};
  ASSERT_EQ(rig.transmit(nt::SCARD_PROTOCOL_T0, selectPin).out, (Bytes{0x90, 0x00}));

  // PIN_VERIFY_STRUCTURE: 30 s, format 2 block at the data's start, 4..12 digits.
  Bytes structure = {30, 0, 0x89, 0x47, 0x04, 12, 4, 0x02, 1, 0x09, 0x04, 0, 0, 0, 0, 13, 0, 0, 0};
  const Bytes apdu = {0x00, 0x20, 0x00, 0x81, 0x08, 0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  structure.insert(structure.end(), apdu.begin(), apdu.end());
  const auto request = verifyRequest(structure);
  ASSERT_TRUE(request.has_value());

  const auto typePin = [&](std::vector<std::uint8_t> keys) {
    rig.terminal().onPinEntry([&rig, keys] { rig.pc().keyboard().type(keys); });
    return rig.control(varnel::IOCTL_VARNEL_VENDOR, *request, 32);
  };
  const auto wrong = typePin({0x02, 0x03, 0x04, 0x06, 0x1C});  // 1 2 3 5 Enter
  EXPECT_EQ(wrong.out, (Bytes{0x63, 0xC2}));
  const auto right = typePin({0x02, 0x03, 0x04, 0x05, 0x1C});  // 1 2 3 4 Enter
  EXPECT_EQ(right.status, nt::STATUS_SUCCESS);
  EXPECT_EQ(right.out, (Bytes{0x90, 0x00}));
  const auto cancelled = typePin({0x02, 0x01});  // 1 Esc
  EXPECT_EQ(cancelled.out, (Bytes{0x64, 0x01}));
}

}  // namespace
}  // namespace k52::ifd

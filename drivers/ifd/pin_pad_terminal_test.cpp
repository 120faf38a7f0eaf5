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
  ASSERT_NO_FATAL_FAILURE(startWithSelectedPinCard(rig));

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

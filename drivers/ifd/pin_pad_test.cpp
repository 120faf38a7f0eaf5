#include "drivers/ifd/pin_pad.h"

#include <gtest/gtest.h>

namespace k52::ifd {
namespace {

using Bytes = std::vector<std::uint8_t>;

// PIN_VERIFY_STRUCTURE: timeouts, format, block, length format, max and min
// digits, validation, messages, language, message index, prologue, length.
Bytes verifyStructure(std::uint8_t format, std::uint8_t block, std::uint8_t lengthFormat,
                      std::uint8_t maxDigits, const Bytes& apdu, std::uint8_t timeout = 30) {
  Bytes s = {timeout, 0, format, block, lengthFormat, maxDigits, 4, 0x02, 1, 0x09, 0x04,
             0,       0, 0,      0};
  const auto n = static_cast<std::uint32_t>(apdu.size());
  s.insert(s.end(), {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                     static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)});
  s.insert(s.end(), apdu.begin(), apdu.end());
  return s;
}

const Bytes kFormat2Apdu = {0x00, 0x20, 0x00, 0x81, 0x08, 0x20, 0xFF,
                            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const Bytes kAsciiApdu = {0x00, 0x20, 0x00, 0x81, 0x08, 0xFF, 0xFF,
                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

TEST(PinPad, FeatureListNamesTheTwoCodes) {
  EXPECT_EQ(featureList(),
            (Bytes{0x06, 4, 0x42, 0x00, 0x0D, 0xB2, 0x07, 4, 0x42, 0x00, 0x0D, 0xB3}));
}

TEST(PinPad, VerifyStructuresBecomeTheTerminalsPinCommand) {
  const struct {
    const char* what;
    Bytes structure;
    std::optional<Bytes> request;
  } cases[] = {
      {"format 2", verifyStructure(0x89, 0x47, 0x04, 12, kFormat2Apdu),
       Bytes{0x6D, 0x80, 0x01, 30,   0x52, 16,   0xC1, 0x05, 0x05, 0x00, 0x20,
             0x00, 0x81, 0x08, 0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"ASCII, no timer", verifyStructure(0x82, 0x08, 0x00, 8, kAsciiApdu, 0),
       Bytes{0x6D, 0x52, 16, 0x82, 0x05, 0x05, 0x00, 0x20, 0x00, 0x81, 0x08, 0xFF, 0xFF, 0xFF, 0xFF,
             0xFF, 0xFF, 0xFF, 0xFF}},
      {"BCD at offset 2", verifyStructure(0x91, 0x04, 0x00, 6, kAsciiApdu, 0),
       Bytes{0x6D, 0x52, 16, 0x60, 0x07, 0x07, 0x00, 0x20, 0x00, 0x81, 0x08, 0xFF, 0xFF, 0xFF, 0xFF,
             0xFF, 0xFF, 0xFF, 0xFF}},
      {"binary PIN", verifyStructure(0x80, 0x08, 0x00, 8, kAsciiApdu), std::nullopt},
      {"position in bits", verifyStructure(0x0A, 0x08, 0x00, 8, kAsciiApdu), std::nullopt},
      {"no digits", verifyStructure(0x82, 0x08, 0x00, 0, kAsciiApdu), std::nullopt},
      {"field past the APDU", verifyStructure(0x82, 0x08, 0x00, 9, kAsciiApdu), std::nullopt},
      {"APDU too short", verifyStructure(0x82, 0x08, 0x00, 4, {0x00, 0x20}), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(verifyRequest(c.structure), c.request) << c.what;

  Bytes wrongLength = verifyStructure(0x89, 0x47, 0x04, 12, kFormat2Apdu);
  wrongLength[15] = 14;
  EXPECT_EQ(verifyRequest(wrongLength), std::nullopt);
  EXPECT_EQ(verifyRequest(Bytes(10, 0)), std::nullopt);
}

TEST(PinPad, ModifyNeedsTheNewPinBehindTheCurrentOneAndConfirmation) {
  // PIN_MODIFY_STRUCTURE for two format 2 blocks.
  const auto modify = [](std::uint8_t offsetNew, std::uint8_t confirm) {
    Bytes apdu = {0x00, 0x24, 0x00, 0x81, 0x10};
    for (int i = 0; i < 2; ++i)
      apdu.insert(apdu.end(), {0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    Bytes s = {0,    0, 0x89, 0x47, 0x04, 0, offsetNew, 12, 4, confirm,
               0x02, 3, 0x09, 0x04, 0,    1, 2,         0,  0, 0};
    s.insert(s.end(), {static_cast<std::uint8_t>(apdu.size()), 0, 0, 0});
    s.insert(s.end(), apdu.begin(), apdu.end());
    return s;
  };
  const auto request = modifyRequest(modify(8, 0x03));
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(Bytes(request->begin(), request->begin() + 6),
            (Bytes{0x6E, 0x52, 24, 0xC1, 0x05, 0x05}));
  EXPECT_EQ(modifyRequest(modify(9, 0x03)), std::nullopt);
  EXPECT_EQ(modifyRequest(modify(8, 0x01)), std::nullopt);
}

}  // namespace
}  // namespace k52::ifd

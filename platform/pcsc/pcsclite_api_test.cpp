#include "platform/pcsc/pcsclite_api.h"

#include <PCSC/pcsclite.h>
#include <gtest/gtest.h>

namespace k52::pcsc {
namespace {

TEST(PcscLiteApi, StateMaskMapsToTheHighestState) {
  const struct {
    unsigned long mask;
    std::uint32_t state;
  } cases[] = {
      {0, kUnknown},
      {SCARD_ABSENT, kAbsent},
      {SCARD_PRESENT, kPresent},
      {SCARD_PRESENT | SCARD_SWALLOWED, kSwallowed},
      {SCARD_PRESENT | SCARD_POWERED, kPowered},
      {SCARD_PRESENT | SCARD_POWERED | SCARD_NEGOTIABLE, kNegotiable},
      {SCARD_PRESENT | SCARD_POWERED | SCARD_SPECIFIC, kSpecific},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PcscLiteApi::cardStateFromMask(c.mask), c.state) << "mask " << c.mask;
  }
}

}  // namespace
}  // namespace k52::pcsc

// Reader creation and the terminal link, against a scripted terminal.
#include <gtest/gtest.h>

#include "drivers/reader/test_reader_rig.h"

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

}  // namespace
}  // namespace k52::varnel

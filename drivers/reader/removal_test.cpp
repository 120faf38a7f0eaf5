// Unloading the driver: whatever the reader is waiting for, removal ends the
// wait at once and unload takes its own pauses only (3 s before removal, 2 s
// after the polling stops and 1 s after the threads have ended).
#include <gtest/gtest.h>

#include <functional>

#include "drivers/reader/test_reader_rig.h"

namespace k52::varnel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

std::shared_ptr<sim::Card> t0Purse() {
  return std::make_shared<sim::Card>(
      sim::makePurseCard(sim::PurseConfig{1234}, sim::AtrProtocols::kT0));
}

// Starts the reader and leaves a request of an application waiting.
using Waiting = std::function<std::shared_ptr<ReaderRig::Background>(ReaderRig&)>;

std::shared_ptr<ReaderRig::Background> slowTransmit(ReaderRig& rig, sim::K52Firmware& terminal) {
  terminal.insertCard(t0Purse());
  EXPECT_EQ(rig.start(), nt::STATUS_SUCCESS);
  EXPECT_EQ(rig.transmit(nt::SCARD_PROTOCOL_T0, kSelectPurse).out, (Bytes{0x90, 0x00}));
  terminal.slot().contacts()->t0Transport().options().workTime = 60s;
  return rig.transmitInBackground(nt::SCARD_PROTOCOL_T0, kReadBalance);
}

TEST(ReaderRemoval, UnloadTakesOnlyItsOwnPausesWhateverWaits) {
  struct Case {
    const char* what;
    ReaderRigOptions options;
    Waiting wait;
  };
  const Bytes verify = {0x6D, 0x52, 0x10, 0xC1, 0x05, 0x05, 0x00, 0x20, 0x00, 0x81,
                        0x08, 0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const Case cases[] = {
      {"nothing",
       {},
       [](ReaderRig& rig) {
         EXPECT_EQ(rig.start(), nt::STATUS_SUCCESS);
         return nullptr;
       }},
      {"a card working long", {}, [](ReaderRig& rig) { return slowTransmit(rig, rig.terminal()); }},
      {"a PIN nobody types",
       {},
       [&](ReaderRig& rig) {
         startWithSelectedPinCard(rig);
         return rig.controlInBackground(IOCTL_VARNEL_VENDOR, verify, 32);
       }},
      {"a card working long on the serial terminal",
       {.port = "COM1", .serial = SerialEnd::kTerminal},
       [](ReaderRig& rig) { return slowTransmit(rig, rig.serialTerminal()); }},
  };
  for (const Case& c : cases) {
    ReaderRig rig(c.options);
    const auto waiting = c.wait(rig);
    rig.run(1s);
    if (waiting) ASSERT_EQ(waiting->status, nt::STATUS_PENDING) << c.what;
    const Duration start = rig.scheduler().now();
    rig.unload();
    const Duration took = rig.scheduler().now() - start;
    EXPECT_GE(took, 6s) << c.what;
    EXPECT_LT(took, 6500ms) << c.what;
    if (waiting) {
      EXPECT_EQ(waiting->status, nt::STATUS_DEVICE_DATA_ERROR) << c.what;
      EXPECT_LT(waiting->end - start, 3100ms) << c.what;
    }
  }
}

}  // namespace
}  // namespace k52::varnel

// The keyboard stack without any filter: key strokes reach the keystroke
// reader in order, batched when the reader is slower than the keyboard.
#include "sim/kbdstack/keyboard_pc.h"

#include <gtest/gtest.h>

#include "platform/nt/virtual_scheduler.h"

namespace k52::sim {
namespace {

using namespace std::chrono_literals;

TEST(KeyboardPc, SlowReadersGetSeveralRecordsPerRead) {
  struct Case {
    nt::KeystrokeReaderConfig reader;
    std::size_t fewest, most;  // bounds of the largest batch
  };
  const Case cases[] = {
      {{.recordsPerRead = 16, .processingTime = 1ms}, 1, 1},
      {{.recordsPerRead = 16, .processingTime = 30ms}, 10, 16},
      {{.recordsPerRead = 3, .processingTime = 30ms}, 3, 3},
  };
  for (const Case& c : cases) {
    EchoFirmware echo;
    KeyboardPc pc(std::make_unique<nt::VirtualScheduler>(7), echo, std::nullopt,
                  {.wiring = {}, .reader = c.reader});
    std::vector<std::uint8_t> typed;
    for (std::uint8_t code = 0x02; code < 0x02 + 20; ++code) {
      pc.keyboard().press(code);
      typed.push_back(code);
      pc.scheduler().runFor(2ms);
    }
    pc.scheduler().runFor(500ms);
    EXPECT_EQ(pc.reader().codes(), typed);
    EXPECT_GE(pc.reader().largestBatch(), c.fewest);
    EXPECT_LE(pc.reader().largestBatch(), c.most);
  }
}

}  // namespace
}  // namespace k52::sim

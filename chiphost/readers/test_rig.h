// The reader layer's test set-up: a prefix attached on a virtual clock, a
// simulated line as COM3 and, when asked, an FNX reader on it.
#pragma once

#include <memory>

#include "chiphost/readers/basic_reader_host.h"
#include "chiphost/readers/driver_channel.h"
#include "platform/win32/comm/comm.h"
#include "platform/win32/comm/simulated_comm_line.h"
#include "platform/win32/messaging/user.h"
#include "platform/win32/test_temp_dir.h"
#include "sim/card/purse.h"
#include "sim/fnx/fnx_line_device.h"

namespace k52::chiphost {

inline constexpr int kRigPort = 3;

struct ReaderRig {
  win32::TempDir dir;
  VirtualClock clock;
  std::shared_ptr<win32::SimulatedCommLine> line =
      std::make_shared<win32::SimulatedCommLine>(clock);
  std::unique_ptr<sim::FnxLineDevice> reader;
  BasicReaderHost host;

  ReaderRig() {
    win32::attach(win32::Prefix(dir.path()), clock);
    win32::attachPort(kRigPort, line);
    DriverChannel::instance().start();
  }
  ~ReaderRig() {
    DriverChannel::instance().stop();
    win32::attachPort(kRigPort, nullptr);
    win32::detach();
  }
  sim::FnxFirmware& plugReader(sim::FnxConfig config = {}) {
    reader = std::make_unique<sim::FnxLineDevice>(line, config);
    return reader->firmware();
  }
  static std::shared_ptr<sim::ContactCard> purseCard() {
    return std::make_shared<sim::ContactCard>(std::make_shared<sim::Card>(sim::makePurseCard({})));
  }
};

}  // namespace k52::chiphost

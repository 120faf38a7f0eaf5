// The driver serving the tty paths configured in the prefix's registry.
#include <gtest/gtest.h>

#include "platform/nt/serial/port_config.h"
#include "platform/nt/serial/test_port_client.h"
#include "platform/win32/test_temp_dir.h"

namespace k52::nt::serial {
namespace {

TEST(PortConfig, DriverServesConfiguredPathsAndFailsTheOpenOfAMissingOne) {
  win32::TempDir dir;
  win32::Registry(win32::Prefix(dir.path()))
      .import(
          "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\k52kit\\Ports]\n"
          "\"COM2\"=\"/nonexistent/tty\"\n");
  Kernel kernel(std::make_unique<VirtualScheduler>(1), win32::Prefix(dir.path()));
  ASSERT_EQ(kernel.loadDriver(L"Serial", SerialDriverEntry), STATUS_SUCCESS);
  EXPECT_EQ(kernel.findDevice(L"\\Device\\Serial0"), nullptr);
  {
    PortClient port(deviceName(1));
    EXPECT_EQ(port.openStatus(), STATUS_DEVICE_NOT_CONNECTED);
  }
  kernel.unloadDriver(L"Serial");
}

}  // namespace
}  // namespace k52::nt::serial

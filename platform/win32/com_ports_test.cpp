// The COM port configuration in the prefix's registry.
#include "platform/win32/com_ports.h"

#include <gtest/gtest.h>

#include "platform/win32/test_temp_dir.h"

namespace k52::win32 {
namespace {

TEST(ComPorts, TakesAbsolutePathsOfTheComValues) {
  TempDir dir;
  Registry registry{Prefix(dir.path())};
  EXPECT_TRUE(configuredPorts(registry).empty());
  registry.import(
      "REGEDIT4\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\k52kit\\Ports]\n"
      "\"COM1\"=\"/dev/ttyS0\"\n"
      "\"com3\"=\"/dev/pts/4\"\n"
      "\"COM15\"=\"/dev/ttyUSB1\"\n"
      "\"COM16\"=\"/dev/ttyUSB2\"\n"
      "\"COM2\"=\"ttyS1\"\n"
      "\"COM4\"=\"\"\n"
      "\"COM5\"=dword:00000001\n");
  EXPECT_EQ(configuredPorts(registry),
            (std::map<unsigned, std::string>{
                {0, "/dev/ttyS0"}, {2, "/dev/pts/4"}, {14, "/dev/ttyUSB1"}}));
}

}  // namespace
}  // namespace k52::win32

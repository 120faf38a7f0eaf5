#include "drivers/ifd/device_name.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace k52::ifd {
namespace {

TEST(DeviceName, AnAbsolutePathIsThePrefixAnythingElseTheDefault) {
  ::setenv("K52_PREFIX", "/srv/k52/default", 1);
  struct Case {
    const char* deviceName;
    const char* root;
  } cases[] = {
      {"/srv/k52/shop", "/srv/k52/shop"},      {"/srv/k52/shop/../till/", "/srv/k52/till/"},
      {"default", "/srv/k52/default"},         {"", "/srv/k52/default"},
      {"relative/prefix", "/srv/k52/default"}, {"/dev/null:0x8001", "/dev/null:0x8001"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(prefixOfDeviceName(c.deviceName).root(), c.root) << c.deviceName;
  }
  ::unsetenv("K52_PREFIX");
}

}  // namespace
}  // namespace k52::ifd

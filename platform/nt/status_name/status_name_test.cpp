#include "platform/nt/status_name/status_name.h"

#include <gtest/gtest.h>

namespace k52::nt {
namespace {

TEST(StatusName, NamesAKnownStatusWithItsNumberAndAnUnknownOneByNumber) {
  EXPECT_EQ(statusName(STATUS_IO_TIMEOUT), "STATUS_IO_TIMEOUT (0xC00000B5)");
  EXPECT_EQ(statusName(STATUS_SUCCESS), "STATUS_SUCCESS (0x00000000)");
  EXPECT_EQ(statusName(STATUS_DEVICE_BUSY), "STATUS_DEVICE_BUSY (0x80000011)");
  EXPECT_EQ(statusName(ntStatus(0xC0001234)), "0xC0001234");
}

}  // namespace
}  // namespace k52::nt

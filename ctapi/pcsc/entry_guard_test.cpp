#include "ctapi/pcsc/entry_guard.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "ctapi/include/ctapi.h"

namespace k52::ctbridge {
namespace {

TEST(EntryGuard, AnEscapingExceptionBecomesTheErrorResultAndADebugLogLine) {
  // Before the first debug log line of this process, which reads the switch.
  ::setenv("K52_DEBUG", "1", 1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(guarded<std::int8_t>("ctbridge CT_data", ERR_HTSI,
                                 []() -> std::int8_t { throw std::runtime_error("hive locked"); }),
            ERR_HTSI);
  EXPECT_EQ(guarded<std::int8_t>("ctbridge CT_init", ERR_HTSI, []() -> std::int8_t { throw 42; }),
            ERR_HTSI);
  EXPECT_EQ(guarded<std::int8_t>("ctbridge CT_close", ERR_HTSI, [] { return std::int8_t{OK}; }),
            OK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "k52 ctbridge CT_data: hive locked\nk52 ctbridge CT_init: unknown exception\n");
}

}  // namespace
}  // namespace k52::ctbridge

#include "chiphost/server/session_list.h"

#include <gtest/gtest.h>

namespace k52::chiphost {
namespace {

// Every creation advances the counter; a handle names one live session.
TEST(SessionList, HandlesAreUniqueAmongLiveSessions) {
  SessionList list;
  struct Creation {
    std::int32_t requested;
    std::int32_t handle;
  };
  auto create = [&](const Creation& c) {
    EXPECT_EQ(list.create(c.requested, 1, 1).session.handle, c.handle) << c.requested;
  };
  const Creation before[] = {
      {3, 3},   // asked for
      {-1, 2},  // counted
      {-1, 4},  // the count passes over 3
      {4, 5},   // asked for, but in use
      {0, 6},
  };
  for (const Creation& c : before) create(c);
  list.end(*list.find(3, 0));
  const Creation after[] = {
      {-1, 7},  // an ended session's handle is not counted again
      {3, 3},   // but a client may ask for it
  };
  for (const Creation& c : after) create(c);
}

}  // namespace
}  // namespace k52::chiphost

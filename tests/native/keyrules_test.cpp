// The key watch rules the service and KelmCtl share, as tables.
#include <gtest/gtest.h>

#include <cstdint>

#include "common/keyrules.h"

using kelm::KeyEventKind;

TEST(KeyRules, CountKeyEvent) {
  struct Case {
    std::uint32_t v, c, delay, absent, change;
    KeyEventKind kind;
    std::uint32_t absentAfter, changeAfter;
  } cases[] = {
      {1234, 0, 3, 2, 1, KeyEventKind::Arrived, 0, 0},
      {1234, 1234, 3, 2, 1, KeyEventKind::Same, 0, 0},
      {0, 0, 3, 0, 2, KeyEventKind::Same, 0, 0},
      {0, 1234, 3, 2, 1, KeyEventKind::Counting, 3, 0},  // absent, change starts again
      {0, 1234, 3, 3, 0, KeyEventKind::Lost, 0, 0},      // the step after the delay
      {5678, 1234, 3, 2, 1, KeyEventKind::Counting, 0, 2},
      {5678, 1234, 3, 0, 3, KeyEventKind::Lost, 0, 0},
      {0, 1234, 0, 0, 0, KeyEventKind::Lost, 0, 0},  // no delay: lost at once
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(::testing::Message() << k.v << " while " << k.c << ", counts " << k.absent << "/" << k.change);
    std::uint32_t absent = k.absent, change = k.change;
    EXPECT_EQ(kelm::CountKeyEvent(k.v, k.c, k.delay, absent, change), k.kind);
    EXPECT_EQ(absent, k.absentAfter);
    EXPECT_EQ(change, k.changeAfter);
  }
}

TEST(KeyRules, UserIdTable) {
  std::uint32_t ids[kelm::store::kMaxUsers] = {1234};
  ids[49] = 5678;
  EXPECT_TRUE(kelm::InUserIdTable(ids, 1234));
  EXPECT_TRUE(kelm::InUserIdTable(ids, 5678));
  EXPECT_FALSE(kelm::InUserIdTable(ids, 999));
  EXPECT_FALSE(kelm::InUserIdTable(ids, 0));  // empty entries are no user
}

TEST(KeyRules, SetUser) {
  struct Case {
    std::uint32_t setUser, current, arg, setAfter, currentAfter;
  } cases[] = {
      {0, 0, 1234, 1234, 1234},        // log-in
      {0, 0, 0, 0, 0},                 // nothing to log out
      {1234, 1234, 1234, 0, 0},        // the same user logs out
      {1234, 1234, 0, 0, 0},           // 0 logs out
      {1234, 1234, 5678, 1234, 1234},  // another user: ignored
  };
  for (const Case& k : cases) {
    std::uint32_t set = k.setUser, current = k.current;
    kelm::ApplySetUser(set, current, k.arg);
    EXPECT_EQ(set, k.setAfter) << k.setUser << " <- " << k.arg;
    EXPECT_EQ(current, k.currentAfter) << k.setUser << " <- " << k.arg;
  }
}

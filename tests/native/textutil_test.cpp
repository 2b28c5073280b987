#include "common/textutil.h"

#include <gtest/gtest.h>

TEST(TextUtil, CopyBoundedCutsAndTerminates) {
  char buf[4];
  EXPECT_EQ(kelm::CopyBounded(buf, sizeof buf, "abcdef"), 3u);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(kelm::CopyBounded(buf, sizeof buf, ""), 0u);
  EXPECT_STREQ(buf, "");
}

TEST(TextUtil, ParseDecimalLikeTheCLibrary) {
  struct { const char* in; std::uint32_t out; } cases[] = {
      {"32774", 32774}, {"  12x", 12}, {"", 0}, {"abc", 0}, {"+7", 7},
      {"4294967295", 4294967295u}, {"-1", 4294967295u}, {"\t 5", 5}};
  for (auto& c : cases) EXPECT_EQ(kelm::ParseDecimal(c.in), c.out) << c.in;
}

TEST(TextUtil, EqualsNoCaseIsAsciiOnly) {
  EXPECT_TRUE(kelm::EqualsNoCase("cmd", "CMD"));
  EXPECT_FALSE(kelm::EqualsNoCase("CMX", "CMD"));
  EXPECT_FALSE(kelm::EqualsNoCase("\xC4", "\xE4"));
}

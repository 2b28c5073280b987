#include <gtest/gtest.h>

#include "cfg/logic/imagechecks.h"

using namespace kelm::cfg;

TEST(ImageChecks, LimitByPlatform) {
  EXPECT_EQ(ImageSizeLimitMb(98), 2046u);
  EXPECT_EQ(ImageSizeLimitMb(2000), 4094u);
  EXPECT_EQ(ImageSizeLimitMb(2001), 4094u);
  EXPECT_EQ(ImageSizeLimitMb(0), 0u);
  EXPECT_EQ(ImageSizeLimitMb(95), 0u);
}

TEST(ImageChecks, ParseSize) {
  const struct {
    const char* text;
    std::uint32_t value;
  } cases[] = {{"33", 33},       {"", 0},          {"abc", 0},        {"12x", 12},
               {" 100", 100},    {"-5", 0xFFFFFFFFu}, {"-0", 0},      {"4294967329", 0xFFFFFFFFu},
               {"4294967295", 0xFFFFFFFFu}, {"0004094", 4094}};
  for (const auto& c : cases) EXPECT_EQ(ParseImageSizeMb(c.text), c.value) << c.text;
  EXPECT_EQ(ParseImageSizeMb(nullptr), 0u);
}

TEST(ImageChecks, SizeRange) {
  const struct {
    std::uint32_t size, limit;
    bool ok;
  } cases[] = {{32, 4094, false}, {33, 4094, true},  {4094, 4094, true}, {4095, 4094, false},
               {2046, 2046, true}, {2047, 2046, false}, {0, 4094, false}, {33, 0, false},
               {0xFFFFFFFFu, 4094, false}};
  for (const auto& c : cases) EXPECT_EQ(ImageSizeAccepted(c.size, c.limit), c.ok) << c.size << "/" << c.limit;
}

TEST(ImageChecks, FreeSpace) {
  EXPECT_FALSE(EnoughFreeSpace(true, 43, 33));  // exactly S + 10
  EXPECT_TRUE(EnoughFreeSpace(true, 44, 33));
  EXPECT_FALSE(EnoughFreeSpace(false, 100000, 33));
  EXPECT_TRUE(EnoughFreeSpace(true, 5000, 4094));
  EXPECT_FALSE(EnoughFreeSpace(true, 0, 0xFFFFFFFFu));
}

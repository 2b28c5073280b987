// Names, limits and codecs of the protection list store and the folder
// decoration.
#include "common/protection.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace kelm::protect;

TEST(Protection, EntryCount) {
  struct {
    const char* text;
    unsigned count;
  } cases[] = {{"0", 0},     {"", 0},      {"3", 3},     {"510", 510},         {"511", 511},
               {"512", 511}, {"600", 511}, {"x", 0},     {" 7", 7},            {"+4", 4},
               {"-1", 0},    {"12ab", 12}, {"4294967297", 511}, {"99999999999999999999", 511}};
  for (const auto& c : cases) EXPECT_EQ(EntryCount(c.text), c.count) << c.text;
}

TEST(Protection, DecorationLevel) {
  struct {
    const char* text;
    int level;
  } cases[] = {{"1", 1}, {"2", 2}, {"", 2}, {"0", 2}, {"3", 2}, {" 1", 1}, {"1x", 1}, {"01", 1}, {"x1", 2}};
  for (const auto& c : cases) EXPECT_EQ(DecorationLevel(c.text), c.level) << c.text;
}

TEST(Protection, RewriteEntriesLeavesOutRowsWithoutPath) {
  const std::vector<Entry> rows = {{"1", "c:\\c"}, {"2", ""}, {"2", "c:\\a"}};
  const std::vector<Entry> out = RewriteEntries(rows);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].path, "c:\\c");
  EXPECT_EQ(out[0].level, "1");
  EXPECT_EQ(out[1].path, "c:\\a");
  EXPECT_EQ(out[1].level, "2");
  EXPECT_TRUE(RewriteEntries({}).empty());
}

TEST(Protection, IconNames) {
  EXPECT_STREQ(LevelIconName(1), "\\lockfld1.ico");
  EXPECT_STREQ(LevelIconName(2), "\\lockfld2.ico");
  EXPECT_STREQ(LevelIconName(0), "\\lockfld2.ico");
  EXPECT_STREQ(LevelIconName(7), "\\lockfld2.ico");
}

TEST(Protection, DesktopIniPath) {
  char out[kPathBuffer];
  ASSERT_TRUE(DesktopIniPath("c:\\data", out, sizeof out));
  EXPECT_STREQ(out, "c:\\data\\Desktop.ini");
  ASSERT_TRUE(DesktopIniPath("c:\\data\\", out, sizeof out));
  EXPECT_STREQ(out, "c:\\data\\Desktop.ini");
  ASSERT_TRUE(DesktopIniPath("c:\\", out, sizeof out));
  EXPECT_STREQ(out, "c:\\Desktop.ini");
  // The longest path the store holds fits the buffer.
  const std::string longest = "c:\\" + std::string(kMaxPath - 3, 'p');
  ASSERT_TRUE(DesktopIniPath(longest, out, sizeof out));
  EXPECT_EQ(std::string(out), longest + "\\Desktop.ini");
  // Too long for the buffer: refused, not cut.
  char small[20];
  EXPECT_TRUE(DesktopIniPath("c:\\abcd", small, sizeof small));  // 19 characters
  EXPECT_STREQ(small, "c:\\abcd\\Desktop.ini");
  EXPECT_FALSE(DesktopIniPath("c:\\abcde", small, sizeof small));
  EXPECT_STREQ(small, "");
}

TEST(Protection, DecorationValues) {
  IniValue v[kDecorationValues];
  DecorationValues(true, "C:\\windows\\lockfld1.ico", v);
  const char* decorated[][2] = {{"IconFile", "C:\\windows\\lockfld1.ico"},
                                {"ConfirmFileOp", "0"},
                                {"NoSharing", "1"},
                                {"IconIndex", "0"},
                                {"InfoTip", "Kelm Locked File"}};
  for (std::size_t i = 0; i < kDecorationValues; ++i) {
    EXPECT_STREQ(v[i].key, decorated[i][0]);
    EXPECT_STREQ(v[i].value, decorated[i][1]);
  }
  DecorationValues(false, "ignored", v);
  const char* cleared[][2] = {{"IconFile", ""}, {"ConfirmFileOp", "0"}, {"NoSharing", "1"}, {"IconIndex", "0"},
                              {"InfoTip", "No"}};
  for (std::size_t i = 0; i < kDecorationValues; ++i) {
    EXPECT_STREQ(v[i].key, cleared[i][0]);
    EXPECT_STREQ(v[i].value, cleared[i][1]);
  }
}

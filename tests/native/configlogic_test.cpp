// The configuration dialog's rules: image owners, the list's prefix
// search, the size a chosen file gives and the save checks.
#include <gtest/gtest.h>

#include "cfg/logic/configlogic.h"

using namespace kelm::cfg;

TEST(ImageOwnerTable, OwnerOf) {
  ImageOwnerTable t;
  t.Add("1234", "C:\\Disks\\A.img");
  t.Add("1234", "C:\\disks\\sub\\");
  t.Add("5678", "D:\\other\\b.IMG");
  struct Case {
    const char* user;
    const char* path;
    int owner;
  } cases[] = {
      {"1234", "c:\\disks\\a.img", 1},   {"1234", "C:\\DISKS\\A.IMG", 1}, {"5678", "C:\\Disks\\A.img", 2},
      {"1234", "d:\\other\\b.img", 2},   {"9", "C:\\disks\\new.img", 0},  {"1234", "C:\\a.img", 3},
      {"1234", "a.img", 3},              {"1234", "C:\\disks\\sub", 1},   {"1234", "\\\\srv\\s.img", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(t.OwnerOf(c.user, c.path), c.owner) << c.user << " " << c.path;
  // The root rule comes first, whoever holds the path.
  t.Add("1234", "C:\\root.img");
  EXPECT_EQ(t.OwnerOf("1234", "C:\\root.img"), 3);
}

TEST(ImageOwnerTable, Limits) {
  ImageOwnerTable t;
  for (int i = 0; i < 511; ++i) ASSERT_TRUE(t.Add("u", "C:\\d\\" + std::to_string(i)));
  EXPECT_FALSE(t.Add("u", "C:\\d\\more"));
  EXPECT_TRUE(t.Add("v", "C:\\d\\more"));
  // Paths are kept to 259 characters, so a longer one matches its cut form.
  const std::string longPath = "C:\\d\\" + std::string(300, 'x');
  t.Add("w", longPath);
  EXPECT_EQ(t.OwnerOf("w", longPath.substr(0, 259)), 1);
  EXPECT_EQ(t.OwnerOf("w", longPath), 1);
}

TEST(ConfigRules, RootSizePrefix) {
  EXPECT_TRUE(InRootDirectory("C:\\x.img"));
  EXPECT_TRUE(InRootDirectory("x.img"));
  EXPECT_FALSE(InRootDirectory("C:\\d\\x.img"));
  EXPECT_EQ(SizeFieldForLength(103ull * 1048576), 100u);
  EXPECT_EQ(SizeFieldForLength(103ull * 1048576 - 1), 99u);
  EXPECT_EQ(SizeFieldForLength(0), 0u);
  EXPECT_EQ(SizeFieldForLength(3ull * 1048576), 0u);
  EXPECT_EQ(SizeFieldForLength(4ull * 1048576), 1u);
  const std::vector<std::string> list = {"123", "5678"};
  EXPECT_EQ(FindPrefix(list, "12"), 0);  // "12" is taken by "123"
  EXPECT_EQ(FindPrefix(list, "1234"), -1);
  EXPECT_EQ(FindPrefix(list, "5678"), 1);
  EXPECT_EQ(FindPrefix({"12"}, "123"), -1);  // "123" while "12" is listed: added
}

TEST(ConfigRules, SaveChecksAndMessages) {
  SlotFields slots[4];
  EXPECT_EQ(CheckValidSlots(slots).problem, SlotProblem::None);
  slots[1] = {true, "C:\\d\\b.img", 40};
  slots[3] = {true, "", 0};
  const SaveCheck c = CheckValidSlots(slots);
  EXPECT_EQ(c.problem, SlotProblem::EmptyPath);
  EXPECT_EQ(c.slot, 3u);
  MessageText m = SlotMessage(c.problem, c.slot, false);
  EXPECT_STREQ(m.key, "cfgdlg_msg8");
  EXPECT_EQ(m.text, "Please input the file name of image file 4.");
  EXPECT_STREQ(SlotMessage(c.problem, c.slot, true).key, "cfgdlg_msg32");
  slots[3].path = "C:\\d\\d.img";
  EXPECT_EQ(CheckValidSlots(slots).problem, SlotProblem::ZeroSize);
  m = SlotMessage(SlotProblem::ZeroSize, 0, true);
  EXPECT_STREQ(m.key, "cfgdlg_msg27");
  EXPECT_EQ(m.text, "Invalid image file size of file 1.");
  EXPECT_STREQ(SlotMessage(SlotProblem::ZeroSize, 2, false).key, "cfgdlg_msg7");
  slots[3].valid = false;
  EXPECT_EQ(CheckValidSlots(slots).problem, SlotProblem::None);
}

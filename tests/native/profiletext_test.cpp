// The folder decoration's INI rewrite, as a function of the file text.
#include "common/profiletext.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/cases/profiletext_cases.h"

using kelm::profile::FindProfileValue;
using kelm::profile::RewriteProfileText;

TEST(ProfileText, Cases) {
  for (const auto& c : kelmtest::kProfileCases) {
    const std::string before = c.before == kelmtest::kNoFile ? std::string() : c.before;
    EXPECT_EQ(RewriteProfileText(before, c.section, c.key, c.value), c.after) << c.name;
  }
}

TEST(ProfileText, RewriteIsStableAndFindsWhatItWrote) {
  for (const auto& c : kelmtest::kProfileCases) {
    // A second rewrite with the same value changes nothing, except where a
    // piece of an over-long line grows past the piece size with its "=".
    if (c.after.find(std::string(900, 'v')) == std::string::npos) {
      EXPECT_EQ(RewriteProfileText(c.after, c.section, c.key, c.value), c.after) << c.name;
    }
    std::string v;
    ASSERT_TRUE(FindProfileValue(c.after, c.section, c.key, v)) << c.name;
    EXPECT_EQ(v, c.value) << c.name;
  }
}

TEST(ProfileText, FiveDecorationWritesInOrder) {
  std::string text;
  const char* keys[][2] = {{"IconFile", "C:\\windows\\lockfld2.ico"}, {"ConfirmFileOp", "0"}, {"NoSharing", "1"},
                           {"IconIndex", "0"}, {"InfoTip", "Kelm Locked File"}};
  for (const auto& kv : keys) text = RewriteProfileText(text, ".ShellClassInfo", kv[0], kv[1]);
  EXPECT_EQ(text,
            "[.ShellClassInfo]\r\nIconFile=C:\\windows\\lockfld2.ico\r\nConfirmFileOp=0\r\nNoSharing=1\r\n"
            "IconIndex=0\r\nInfoTip=Kelm Locked File\r\n\r\n");
}

TEST(ProfileText, FindIgnoresCaseAndLooseLines) {
  const std::string text = "k=top\r\n[S]\r\nKEY=1\r\nkey=2\r\n[s]\r\nkey=3\r\n";
  std::string v;
  ASSERT_TRUE(FindProfileValue(text, "s", "key", v));
  EXPECT_EQ(v, "1");
  EXPECT_FALSE(FindProfileValue(text, "s", "other", v));
  EXPECT_FALSE(FindProfileValue(text, "", "k", v));
  EXPECT_FALSE(FindProfileValue(text, "t", "key", v));
}

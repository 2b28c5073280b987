#include "common/cfgpass.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/desvariant.h"

namespace {

using kelm::NewPasswordCheck;

// What the check dialog does with the two stored records and a typed entry
// (steps 1-3 and 5-7).
bool Verify(const std::uint8_t* stored, std::size_t storedLen, const std::uint8_t* file,
            std::size_t fileLen, const char* entry) {
  char typed[kelm::kCfgPassMax + 1];
  if (kelm::CutPassword(entry, typed) == 0) return false;
  std::uint8_t rec[kelm::kCfgRegBuffer] = {};
  std::memcpy(rec, stored, storedLen);
  if (!kelm::CipherDecrypt(typed, rec, kelm::kCfgRecordSize)) return false;
  char date[kelm::kCfgRecordSize + 1];
  if (!kelm::StampDateText(file, fileLen, date)) return false;
  return kelm::CfgPassMatches(rec, sizeof rec, date, typed);
}

struct Stored {
  std::uint8_t stamp[kelm::kCfgRecordSize];
  std::uint8_t reg[kelm::kCfgRecordSize];
};

Stored Set(const char* password, const char* date = "20040317") {
  Stored s;
  kelm::BuildStampRecord(date, s.stamp);
  EXPECT_TRUE(kelm::BuildCfgPassRecord(date, password, password, s.reg));
  return s;
}

TEST(CfgPass, DateStamp) {
  char d[9];
  EXPECT_TRUE(kelm::FormatDateStamp(2004, 3, 17, d));
  EXPECT_STREQ(d, "20040317");
  EXPECT_TRUE(kelm::FormatDateStamp(987, 12, 1, d));
  EXPECT_STREQ(d, "09871201");
  EXPECT_FALSE(kelm::FormatDateStamp(10000, 1, 1, d));
  EXPECT_FALSE(kelm::FormatDateStamp(2004, 13, 1, d));
}

TEST(CfgPass, ThreeLetterPasswordRecords) {
  const Stored s = Set("abc");
  const std::uint8_t stamp[20] = {'2', '0', '0', '4', '0', '3', '1', '7'};
  EXPECT_EQ(0, std::memcmp(s.stamp, stamp, 20));

  std::uint8_t plain[20] = {'2', '0', '0', '4', '0', '3', '1', '7', 'a', 'b', 'c'};
  EXPECT_NE(0, std::memcmp(s.reg, plain, 16));
  EXPECT_EQ(0, std::memcmp(s.reg + 16, plain + 16, 4));  // tail stored as it is
  std::uint8_t dec[20];
  std::memcpy(dec, s.reg, 20);
  ASSERT_TRUE(kelm::CipherDecrypt("abc", dec, 20));
  EXPECT_EQ(0, std::memcmp(dec, plain, 20));
}

TEST(CfgPass, EightCharacterPasswordKeepsItsZeroInTheTail) {
  const Stored s = Set("abcdefghXY");  // cut to 8
  EXPECT_EQ(s.reg[16], 0);
  std::uint8_t dec[20];
  std::memcpy(dec, s.reg, 20);
  ASSERT_TRUE(kelm::CipherDecrypt("abcdefgh", dec, 20));
  EXPECT_EQ(0, std::memcmp(dec + 8, "abcdefgh", 9));
}

TEST(CfgPass, Verification) {
  struct { const char *set, *typed; bool ok; } cases[] = {
      {"abc", "abc", true},
      {"abc", "ABC", false},               // letter case counts
      {"abcdefgh", "abcdefghij", true},    // only 8 characters count
      {"abcdefgh", "abcdefg", false},
      {"pass\xE1", "pass\xE0", false},     // same key, refused at the comparison
      {"pass\xE1", "pass\xE1", true},
      {"ab\x81", "ab", false},             // same key too; the zero after the password counts
      {"abc", "", false},
      {"abc", "abd", false},
  };
  for (const auto& c : cases) {
    const Stored s = Set(c.set);
    EXPECT_EQ(Verify(s.reg, 20, s.stamp, 20, c.typed), c.ok) << c.set << " / " << c.typed;
  }
}

TEST(CfgPass, BitZeroDifferenceDecryptsButDoesNotMatch) {
  const Stored s = Set("pass\xE1");
  std::uint8_t dec[kelm::kCfgRegBuffer] = {};
  std::memcpy(dec, s.reg, 20);
  ASSERT_TRUE(kelm::CipherDecrypt("pass\xE0", dec, 20));
  EXPECT_EQ(0, std::memcmp(dec, "20040317pass\xE1", 14));
  EXPECT_FALSE(kelm::CfgPassMatches(dec, sizeof dec, "20040317", "pass\xE0"));
}

TEST(CfgPass, StampFileForms) {
  const Stored s = Set("abc");
  const std::uint8_t noZero[20] = {'2', '0', '0', '4', '0', '3', '1', '7', '1', '1',
                                   '1', '1', '1', '1', '1', '1', '1', '1', '1', '1'};
  const std::uint8_t otherDay[20] = {'2', '0', '0', '4', '0', '3', '1', '8'};
  EXPECT_TRUE(Verify(s.reg, 20, s.stamp, 9, "abc"));        // date and its zero are enough
  EXPECT_FALSE(Verify(s.reg, 20, s.stamp, 8, "abc"));       // short file: fillers follow the date
  EXPECT_FALSE(Verify(s.reg, 20, s.stamp, 0, "abc"));       // empty file
  EXPECT_FALSE(Verify(s.reg, 20, noZero, 20, "abc"));       // no zero within 20 bytes
  EXPECT_FALSE(Verify(s.reg, 20, otherDay, 20, "abc"));     // the stamp changed
  char d[21];
  EXPECT_FALSE(kelm::StampDateText(noZero, 20, d));
  EXPECT_STREQ(d, "");
  ASSERT_TRUE(kelm::StampDateText(s.stamp, 3, d));
  EXPECT_EQ(std::strlen(d), 19u);
  EXPECT_EQ(std::string(d, 3), "200");
}

TEST(CfgPass, ShortOrMissingRegistryRecord) {
  const Stored s = Set("abc");
  EXPECT_FALSE(Verify(s.reg, 10, s.stamp, 20, "abc"));
  const std::uint8_t none[1] = {0};
  EXPECT_FALSE(Verify(none, 0, s.stamp, 20, "abc"));
}

TEST(CfgPass, RefusedKeyRecordIsUnenciphered) {
  std::uint8_t reg[20];
  EXPECT_FALSE(kelm::BuildCfgPassRecord("20040317", "~~~~~~~~", "~~~~~~~~", reg));
  EXPECT_EQ(0, std::memcmp(reg, "20040317~~~~~~~~", 17));
}

TEST(CfgPass, NewPasswordChecks) {
  struct { const char *a, *b; NewPasswordCheck r; } cases[] = {
      {"abc", "abc", NewPasswordCheck::Ok},
      {"", "abc", NewPasswordCheck::Empty},
      {"abc", "", NewPasswordCheck::Empty},
      {"", "", NewPasswordCheck::Empty},
      {"abc", "ABC", NewPasswordCheck::Mismatch},
      {"abc", "abd", NewPasswordCheck::Mismatch},
      {"abcdefgh1", "abcdefgh2", NewPasswordCheck::Ok},  // the same 8 characters
      {"~~~~~~~~", "~~~~~~~~", NewPasswordCheck::WeakKey},
      {"````````", "````````", NewPasswordCheck::WeakKey},
      {"~`~`~q~q", "~`~`~q~q", NewPasswordCheck::WeakKey},
      {"~~~~~~~", "~~~~~~~", NewPasswordCheck::Ok},  // padding makes 0x80, never refused
  };
  for (const auto& c : cases)
    EXPECT_EQ(kelm::CheckNewPassword(c.a, c.b), c.r) << c.a << " / " << c.b;
}

}  // namespace

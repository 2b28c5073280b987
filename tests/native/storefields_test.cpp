// Field codecs of the disk configuration store.
#include "common/storefields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/desvariant.h"

using namespace kelm::store;

TEST(StoreFields, InstallType) {
  struct {
    const char* text;
    int type;
  } cases[] = {{"SOFTWARE", 1}, {"software", 1}, {"RFKEY", 2}, {"RfKey", 2}, {"RFBAND2", 3},
               {"", 0},         {"RFKEY ", 0},   {"SOFT", 0}};
  for (const auto& c : cases) EXPECT_EQ(InstallTypeFromText(c.text), c.type) << c.text;
}

TEST(StoreFields, Flags) {
  EXPECT_TRUE(IsYes("yes"));
  EXPECT_TRUE(IsYes("YES"));
  EXPECT_TRUE(IsYes("yEs"));
  EXPECT_FALSE(IsYes("y"));
  EXPECT_FALSE(IsYes(""));
  EXPECT_FALSE(IsYes("yes "));
  EXPECT_STREQ(YesNo(true), "yes");
  EXPECT_STREQ(YesNo(false), "no");
}

TEST(StoreFields, Delay) {
  EXPECT_EQ(DelaySeconds(""), 15u);
  EXPECT_EQ(DelaySeconds("30"), 30u);
  EXPECT_EQ(DelaySeconds("0"), 0u);
  EXPECT_EQ(DelaySeconds("abc"), 0u);
}

TEST(StoreFields, ValueNames) {
  EXPECT_STREQ(SlotValueName("Valid", 0).text, "Valid0");
  EXPECT_STREQ(SlotValueName("ImageFileSize", 3).text, "ImageFileSize3");
  EXPECT_STREQ(SlotValueName("filename", 12).text, "filename12");
}

TEST(StoreFields, SlotPasswordEmptyIsTwentyZeros) {
  std::uint8_t f[20];
  std::memset(f, 0xAA, sizeof f);
  ASSERT_TRUE(EncodeSlotPassword("", f));
  for (std::uint8_t b : f) EXPECT_EQ(b, 0);
  char out[20];
  DecodeSlotPassword(f, sizeof f, out);
  EXPECT_STREQ(out, "");
}

TEST(StoreFields, SlotPasswordLayout) {
  for (const char* pw : {"a", "secret", "12345678", "123456789"}) {
    std::uint8_t f[20];
    ASSERT_TRUE(EncodeSlotPassword(pw, f)) << pw;
    std::uint8_t plain[20] = {};
    std::memcpy(plain, pw, std::strlen(pw));
    std::uint8_t expect[20];
    std::memcpy(expect, plain, 20);
    ASSERT_TRUE(kelm::CipherEncrypt("QUENTOR", expect, 16));
    EXPECT_EQ(std::memcmp(f, expect, 20), 0) << pw;
    EXPECT_NE(std::memcmp(f, plain, 16), 0) << pw;  // the two blocks are enciphered
    for (int i = 16; i < 20; ++i) EXPECT_EQ(f[i], 0) << pw;
    char out[20];
    DecodeSlotPassword(f, sizeof f, out);
    EXPECT_STREQ(out, pw);
  }
}

TEST(StoreFields, SlotPasswordTooLongRefused) {
  std::uint8_t f[20];
  std::memset(f, 0xAA, sizeof f);
  EXPECT_FALSE(EncodeSlotPassword("1234567890", f));
  for (std::uint8_t b : f) EXPECT_EQ(b, 0);
}

TEST(StoreFields, SlotPasswordReaderRules) {
  char out[20];
  std::uint8_t f[20];
  ASSERT_TRUE(EncodeSlotPassword("pw", f));
  DecodeSlotPassword(f, 0, out);  // read failed
  EXPECT_STREQ(out, "");
  DecodeSlotPassword(nullptr, 20, out);
  EXPECT_STREQ(out, "");
  // First 8 bytes zero: no password, whatever follows.
  std::uint8_t z[20] = {};
  z[8] = 0x41;
  DecodeSlotPassword(z, sizeof z, out);
  EXPECT_STREQ(out, "");
  // Longer values: only the first 20 bytes count.
  std::uint8_t big[64] = {};
  std::memcpy(big, f, 20);
  std::memset(big + 20, 'x', 44);
  DecodeSlotPassword(big, sizeof big, out);
  EXPECT_STREQ(out, "pw");
  // A deciphered text without zero is cut at 19 bytes.
  std::uint8_t raw[20];
  std::memset(raw, 'q', 20);
  ASSERT_TRUE(kelm::CipherEncrypt("QUENTOR", raw, 16));
  DecodeSlotPassword(raw, sizeof raw, out);
  EXPECT_EQ(std::string(out), std::string(19, 'q'));
}

TEST(StoreFields, LoginPasswordLayout) {
  std::uint8_t f[24];
  ASSERT_TRUE(EncodeLoginPassword("login8ch", f));
  std::uint8_t expect[24] = {};
  std::memcpy(expect, "login8ch", 8);
  ASSERT_TRUE(kelm::CipherEncrypt("QUENTOR", expect, 24));
  EXPECT_EQ(std::memcmp(f, expect, 24), 0);
  char out[30];
  DecodeLoginPassword(f, sizeof f, out, sizeof out);
  EXPECT_STREQ(out, "login8ch");
  EXPECT_FALSE(EncodeLoginPassword(std::string(24, 'a'), f));
  ASSERT_TRUE(EncodeLoginPassword(std::string(23, 'a'), f));
  DecodeLoginPassword(f, sizeof f, out, sizeof out);
  EXPECT_EQ(std::string(out), std::string(23, 'a'));
}

TEST(StoreFields, LoginPasswordReaderRules) {
  std::uint8_t f[24];
  ASSERT_TRUE(EncodeLoginPassword("abcdefghijkl", f));
  char out[30];
  // The text ends at the number of bytes read.
  DecodeLoginPassword(f, 16, out, sizeof out);
  EXPECT_STREQ(out, "abcdefghijkl");
  // A partial first block deciphers to other bytes, still ended at 5.
  DecodeLoginPassword(f, 5, out, sizeof out);
  EXPECT_LE(std::strlen(out), 5u);
  EXPECT_STRNE(out, "abcde");
  DecodeLoginPassword(f, 0, out, sizeof out);
  EXPECT_STREQ(out, "");
  // 100 bytes without any zero: terminated inside the bounds, cut to fit.
  std::uint8_t big[100];
  std::memset(big, 'z', sizeof big);
  DecodeLoginPassword(big, sizeof big, out, sizeof out);
  EXPECT_EQ(std::strlen(out), 29u);
  char tiny[4];
  DecodeLoginPassword(f, sizeof f, tiny, sizeof tiny);
  EXPECT_STREQ(tiny, "abc");
}

TEST(StoreFields, ImageFileName) {
  struct {
    const char* path;
    const char* name;
  } cases[] = {{"C:\\img\\disk.img", "disk.img"}, {"C:\\disk.img", "disk.img"}, {"disk.img", "disk.img"},
               {"\\disk.img", "\\disk.img"},      {"C:\\img\\", "C:\\img\\"},   {"", ""},
               {"a\\b\\c", "c"}};
  for (const auto& c : cases) EXPECT_EQ(ImageFileName(c.path), c.name) << c.path;
}

TEST(StoreFields, UserPasswordTable) {
  static UserPasswordTable t;
  t.Clear();
  EXPECT_EQ(t.Find("12"), nullptr);
  ASSERT_TRUE(t.Put("12", "aa"));
  ASSERT_TRUE(t.Put("34", "bb"));
  ASSERT_TRUE(t.Put("56", "cc"));
  ASSERT_TRUE(t.Put("34", "BB"));  // replaced in place
  EXPECT_STREQ(t.entries[1].password, "BB");
  EXPECT_FALSE(t.Put("", "x"));
  ASSERT_TRUE(t.Remove("12"));
  EXPECT_STREQ(t.entries[0].userId, "34");
  EXPECT_STREQ(t.entries[1].userId, "56");
  EXPECT_EQ(t.entries[2].userId[0], '\0');
  EXPECT_FALSE(t.Remove("12"));
  ASSERT_TRUE(t.Put(std::string(40, '9'), std::string(40, 'p')));
  EXPECT_EQ(std::strlen(t.entries[2].userId), 29u);
  t.Clear();
  for (int i = 0; i < UserPasswordTable::kEntries; ++i) ASSERT_TRUE(t.Put(std::to_string(i + 1), "p"));
  EXPECT_FALSE(t.Put("999", "p"));
  ASSERT_TRUE(t.Remove("1"));
  EXPECT_STREQ(t.entries[48].userId, "50");
  EXPECT_EQ(t.entries[49].userId[0], '\0');
}

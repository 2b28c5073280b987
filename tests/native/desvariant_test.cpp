#include "common/desvariant.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace {

using Bytes8 = std::array<std::uint8_t, 8>;

Bytes8 Hex8(const char* hex) {
  Bytes8 b{};
  for (int i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(std::stoul(std::string(hex + 2 * i, 2), nullptr, 16));
  return b;
}

const Bytes8 kExampleKey = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
const Bytes8 kExamplePlain = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

TEST(DesVariant, CheckValueAndBack) {
  kelm::DesSchedule ks;
  kelm::DesVariantSchedule(kExampleKey.data(), ks);
  Bytes8 b = kExamplePlain;
  kelm::DesVariantBlock(ks, b.data(), true);
  EXPECT_EQ(b, Hex8("AF2C1E16A0896177"));
  kelm::DesVariantBlock(ks, b.data(), false);
  EXPECT_EQ(b, kExamplePlain);
}

// The same tables with right rotations must be standard DES.
TEST(DesVariant, UnmodifiedConstructionIsStandardDes) {
  struct { const char *key, *plain, *cipher; } cases[] = {
      {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
      {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
      {"0101010101010101", "95F8A5E5DD31D900", "8000000000000000"},
      {"abd1895a63791429", "af7ead0121870811", "4b7038a85a88f1e0"},
      {"e1596587772576ae", "5ae02f348fae641c", "57a14ff033535eec"},
      {"58eda92626c4bff9", "4720289138e4d40f", "2e1bdb2f3ede8a3e"},
      {"800e9ec9dfd76c39", "2d8543f87ea475ad", "9cfb6d7b28102394"},
      {"9f7c1420143c4611", "fb6ab3f6df51da40", "2e3197567b822673"},
      {"500fd4424bbf85dd", "f2eb26f7746aac89", "b5a53c6c09cbb86e"},
  };
  for (const auto& c : cases) {
    kelm::DesSchedule ks;
    kelm::StandardDesSchedule(Hex8(c.key).data(), ks);
    Bytes8 b = Hex8(c.plain);
    kelm::StandardDesBlock(ks, b.data(), true);
    EXPECT_EQ(b, Hex8(c.cipher)) << c.key;
    kelm::StandardDesBlock(ks, b.data(), false);
    EXPECT_EQ(b, Hex8(c.plain)) << c.key;
  }
}

TEST(DesVariant, ParityRule) {
  struct { int in, out; } cases[] = {
      {0x00, 0x80}, {0x01, 0x01}, {0x03, 0x83}, {0x41, 0xC1}, {0x61, 0x61},
      {0x7E, 0xFE}, {0x7F, 0x7F}, {0x80, 0x80}, {0x81, 0x81}, {0xFF, 0xFF}};
  for (const auto& c : cases) {
    char text[2] = {static_cast<char>(c.in), 0};
    std::uint8_t key[8];
    kelm::PrepareKeyBytes(text, key);
    if (c.in != 0) {
      EXPECT_EQ(key[0], c.out) << c.in;
    }
    for (int i = 1; i < 8; ++i) EXPECT_EQ(key[i], 0x80);
  }
  std::uint8_t key[8];
  kelm::PrepareKeyBytes("abcdefghij", key);  // only 8 characters count
  EXPECT_EQ(0, std::memcmp(key, "\x61\x62\xE3\x64\xE5\xE6\x67\x68", 8));
}

// Below 128 a bit-0 difference changes the parity bit too, so the keys
// differ; from 128 up the prepared bytes differ only in bit 0, which the key
// schedule ignores.
TEST(DesVariant, BitZeroOfKeyBytes) {
  auto scheduleOf = [](const char* text) {
    kelm::DesSchedule ks;
    EXPECT_TRUE(kelm::CipherSchedule(text, ks));
    return std::to_array(ks.k);
  };
  EXPECT_EQ(scheduleOf("pass\xE1"), scheduleOf("pass\xE0"));
  EXPECT_NE(scheduleOf("passa"), scheduleOf("pass`"));
}

TEST(DesVariant, RefusedKeys) {
  const char* refused[] = {
      "0101010101010101", "FEFEFEFEFEFEFEFE", "1F1F1F1F1F1F1F1F", "E0E0E0E0E0E0E0E0",
      "01FE01FE01FE01FE", "FE01FE01FE01FE01", "1FE01FE00EF10EF1", "E01FE01FF10EF10E",
      "01E001E001F101F1", "E001E001F101F101", "1FFE1FFE0EFE0EFE", "FE1FFE1FFE0EFE0E",
      "011F011F010E010E", "1F011F010E010E01", "E0FEE0FEF1FEF1FE", "FEE0FEE0FEF1FEF1"};
  for (const char* r : refused) EXPECT_TRUE(kelm::IsRefusedKey(Hex8(r).data())) << r;
  // The usual DES semi-weak forms these two rows replace are accepted.
  EXPECT_FALSE(kelm::IsRefusedKey(Hex8("1F1F1F1F0E0E0E0E").data()));
  EXPECT_FALSE(kelm::IsRefusedKey(Hex8("E0E0E0E0F1F1F1F1").data()));
  EXPECT_FALSE(kelm::IsRefusedKey(kExampleKey.data()));

  // Printable texts whose prepared keys are refused: '~' -> FE, '`' -> E0, 'q' -> F1.
  for (const char* text : {"~~~~~~~~", "````````", "~`~`~q~q", "`~`~q~q~", "~~~~~~~~x"}) {
    std::uint8_t data[20];
    std::memset(data, 0x5A, sizeof data);
    EXPECT_FALSE(kelm::CipherEncrypt(text, data, sizeof data)) << text;
    EXPECT_FALSE(kelm::CipherDecrypt(text, data, sizeof data)) << text;
    for (std::uint8_t b : data) EXPECT_EQ(b, 0x5A);
    kelm::DesSchedule ks;
    EXPECT_FALSE(kelm::CipherSchedule(text, ks));
  }
}

TEST(DesVariant, EcbWholeBlocksTailUntouched) {
  for (std::size_t len : {0u, 3u, 8u, 19u, 20u, 24u}) {
    std::uint8_t data[24], orig[24];
    for (std::size_t i = 0; i < sizeof data; ++i) orig[i] = data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    ASSERT_TRUE(kelm::CipherEncrypt("QUENTOR", data, len));
    const std::size_t whole = len / 8 * 8;
    for (std::size_t i = whole; i < sizeof data; ++i) EXPECT_EQ(data[i], orig[i]) << len;
    for (std::size_t b = 0; b < whole; b += 8) EXPECT_NE(0, std::memcmp(data + b, orig + b, 8)) << len;
    // Each block on its own (ECB): block 1 is block 0's plaintext enciphered alone.
    if (whole >= 16) {
      std::uint8_t one[8];
      std::memcpy(one, orig + 8, 8);
      ASSERT_TRUE(kelm::CipherEncrypt("QUENTOR", one, 8));
      EXPECT_EQ(0, std::memcmp(one, data + 8, 8));
    }
    ASSERT_TRUE(kelm::CipherDecrypt("QUENTOR", data, len));
    EXPECT_EQ(0, std::memcmp(data, orig, sizeof data)) << len;
  }
}

TEST(DesVariant, KeyTextIsTheFirstEightCharacters) {
  std::uint8_t a[8] = {1, 2, 3, 4, 5, 6, 7, 8}, b[8], c[8];
  std::memcpy(b, a, 8);
  std::memcpy(c, a, 8);
  ASSERT_TRUE(kelm::CipherEncrypt("password", a, 8));
  ASSERT_TRUE(kelm::CipherEncrypt("password12", b, 8));
  ASSERT_TRUE(kelm::CipherEncrypt("passwor", c, 8));
  EXPECT_EQ(0, std::memcmp(a, b, 8));
  EXPECT_NE(0, std::memcmp(a, c, 8));
}

}  // namespace

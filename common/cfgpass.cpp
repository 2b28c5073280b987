#include "common/cfgpass.h"

#include <cstdio>
#include <cstring>

#include "common/desvariant.h"

namespace kelm {

bool FormatDateStamp(int year, int month, int day, char out[9]) {
  if (year < 0 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) {
    out[0] = '\0';
    return false;
  }
  std::snprintf(out, 9, "%04d%02d%02d", year, month, day);
  return true;
}

std::size_t CutPassword(const char* entry, char out[kCfgPassMax + 1]) {
  std::size_t n = 0;
  if (entry)
    for (; n < kCfgPassMax && entry[n] != '\0'; ++n) out[n] = entry[n];
  out[n] = '\0';
  return n;
}

void BuildStampRecord(const char* dateStamp, std::uint8_t out[kCfgRecordSize]) {
  std::memset(out, 0, kCfgRecordSize);
  for (std::size_t i = 0; i < 8 && dateStamp[i] != '\0'; ++i)
    out[i] = static_cast<std::uint8_t>(dateStamp[i]);
}

bool BuildCfgPassRecord(const char* dateStamp, const char* password, const char* keyText,
                        std::uint8_t out[kCfgRecordSize]) {
  BuildStampRecord(dateStamp, out);
  char cut[kCfgPassMax + 1];
  const std::size_t n = CutPassword(password, cut);
  std::memcpy(out + 8, cut, n);  // zero after it stays from the stamp record
  return CipherEncrypt(keyText, out, kCfgRecordSize);
}

NewPasswordCheck CheckNewPassword(const char* first, const char* second) {
  char a[kCfgPassMax + 1], b[kCfgPassMax + 1];
  const std::size_t na = CutPassword(first, a);
  const std::size_t nb = CutPassword(second, b);
  if (na == 0 || nb == 0) return NewPasswordCheck::Empty;
  // The record holds the second entry under the first as key: entries that
  // differ in letter case would store a password nobody can type.
  if (std::strcmp(a, b) != 0) return NewPasswordCheck::Mismatch;
  // A refused key would leave the record unenciphered and unverifiable.
  std::uint8_t key[8];
  PrepareKeyBytes(a, key);
  if (IsRefusedKey(key)) return NewPasswordCheck::WeakKey;
  return NewPasswordCheck::Ok;
}

bool StampDateText(const std::uint8_t* fileData, std::size_t fileLen, char out[kCfgRecordSize + 1]) {
  std::uint8_t buf[kCfgRecordSize];
  std::memset(buf, '#', kCfgRecordSize - 1);
  buf[kCfgRecordSize - 1] = 0;
  if (fileLen > kCfgRecordSize) fileLen = kCfgRecordSize;
  if (fileLen > 0) std::memcpy(buf, fileData, fileLen);
  const void* zero = std::memchr(buf, 0, kCfgRecordSize);
  if (!zero) {
    out[0] = '\0';
    return false;
  }
  const std::size_t n = static_cast<const std::uint8_t*>(zero) - buf;
  std::memcpy(out, buf, n);
  out[n] = '\0';
  return true;
}

bool CfgPassMatches(const std::uint8_t* record, std::size_t recordCap, const char* dateText,
                    const char* typed) {
  char pass[kCfgPassMax + 1];
  const std::size_t np = CutPassword(typed, pass);
  const std::size_t nd = std::strlen(dateText);
  if (np == 0 || nd + np + 1 > recordCap) return false;
  if (std::memcmp(record, dateText, nd) != 0) return false;
  // The terminating zero counts too, so a shorter entry whose key happens to
  // decipher the record (bit-0 differences from 128 up) is not taken for a
  // longer password.
  return std::memcmp(record + nd, pass, np) == 0 && record[nd + np] == 0;
}

}  // namespace kelm

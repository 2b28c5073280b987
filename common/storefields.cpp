#include "common/storefields.h"

#include <cstdio>
#include <cstring>

#include "common/desvariant.h"
#include "common/textutil.h"

namespace kelm::store {

int InstallTypeFromText(std::string_view text) {
  if (EqualsNoCase(text, "SOFTWARE")) return kInstallSoftware;
  if (EqualsNoCase(text, "RFKEY")) return kInstallRfKey;
  if (EqualsNoCase(text, "RFBAND2")) return kInstallRfBand2;
  return kInstallUnknown;
}

bool IsYes(std::string_view text) { return EqualsNoCase(text, "yes"); }

std::uint32_t DelaySeconds(std::string_view text) {
  return ParseDecimal(text.empty() ? std::string_view(kDefaultDelay) : text);
}

ValueName SlotValueName(const char* base, unsigned index) {
  ValueName n{};
  std::snprintf(n.text, sizeof n.text, "%s%u", base, index);
  return n;
}

bool EncodeSlotPassword(std::string_view password, std::uint8_t (&field)[kSlotPassField]) {
  std::memset(field, 0, sizeof field);
  if (password.empty()) return true;
  if (password.size() > kMaxSlotPassword) return false;
  std::memcpy(field, password.data(), password.size());
  if (!CipherEncrypt(kPasswordKeyText, field, 16)) {
    std::memset(field, 0, sizeof field);
    return false;
  }
  return true;
}

void DecodeSlotPassword(const std::uint8_t* value, std::size_t len, char (&out)[kSlotPassField]) {
  std::memset(out, 0, sizeof out);
  if (value == nullptr || len == 0) return;
  std::uint8_t buf[kSlotPassField] = {};
  std::memcpy(buf, value, len < sizeof buf ? len : sizeof buf);
  bool any = false;
  for (int i = 0; i < 8; ++i) any = any || buf[i] != 0;
  if (!any) return;
  if (!CipherDecrypt(kPasswordKeyText, buf, 16)) return;
  for (std::size_t i = 0; i + 1 < sizeof out && buf[i] != 0; ++i) out[i] = static_cast<char>(buf[i]);
}

bool EncodeLoginPassword(std::string_view password, std::uint8_t (&field)[kLoginPassField]) {
  std::memset(field, 0, sizeof field);
  if (password.size() >= kLoginPassField) return false;
  if (!password.empty()) std::memcpy(field, password.data(), password.size());
  if (!CipherEncrypt(kPasswordKeyText, field, sizeof field)) {
    std::memset(field, 0, sizeof field);
    return false;
  }
  return true;
}

void DecodeLoginPassword(const std::uint8_t* value, std::size_t len, char* out, std::size_t cap) {
  if (cap == 0) return;
  out[0] = '\0';
  if (value == nullptr) return;
  if (len > kLoginPassReadLimit) len = kLoginPassReadLimit;
  // One byte beyond the read limit for the terminator.
  std::uint8_t buf[kLoginPassReadLimit + 1] = {};
  std::memcpy(buf, value, len);
  if (!CipherDecrypt(kPasswordKeyText, buf, kLoginPassField)) return;
  buf[len] = 0;
  CopyBounded(out, cap, reinterpret_cast<const char*>(buf));
}

std::string_view ImageFileName(std::string_view path) {
  const std::size_t pos = path.rfind('\\');
  if (pos == std::string_view::npos || pos == 0 || pos + 1 == path.size()) return path;
  return path.substr(pos + 1);
}

void UserPasswordTable::Clear() { std::memset(entries, 0, sizeof entries); }

const UserPasswordTable::Entry* UserPasswordTable::Find(std::string_view userId) const {
  for (const Entry& e : entries)
    if (e.userId[0] != '\0' && EqualsNoCase(e.userId, userId)) return &e;
  return nullptr;
}

bool UserPasswordTable::Put(std::string_view userId, std::string_view password) {
  if (userId.empty()) return false;
  Entry* slot = const_cast<Entry*>(Find(userId));
  for (int i = 0; slot == nullptr && i < kEntries; ++i)
    if (entries[i].userId[0] == '\0') slot = &entries[i];
  if (slot == nullptr) return false;
  CopyBounded(slot->userId, kTextSize, userId);
  CopyBounded(slot->password, kTextSize, password);
  return true;
}

bool UserPasswordTable::Remove(std::string_view userId) {
  const Entry* e = Find(userId);
  if (e == nullptr) return false;
  const int at = static_cast<int>(e - entries);
  std::memmove(&entries[at], &entries[at + 1], sizeof(Entry) * static_cast<std::size_t>(kEntries - 1 - at));
  std::memset(&entries[kEntries - 1], 0, sizeof(Entry));
  return true;
}

}  // namespace kelm::store

#include "common/win32/protectstore.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "common/storefields.h"
#include "common/textutil.h"
#include "common/win32/handles.h"
#include "common/win32/lockdecor.h"

namespace kelm::win {
namespace {

constexpr std::size_t kKeyPathBuffer = 128;

LONG OpenUserKey(const char* userId, REGSAM access, RegKey& key) {
  char path[kKeyPathBuffer];
  if (!ProtectionKeyPath(userId, path, sizeof path)) return ERROR_INVALID_PARAMETER;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, key.put());
}

LONG SetText(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(std::strlen(text) + 1));
}

bool IsFolder(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ReadList(const char* userId, std::vector<protect::Entry>& out) {
  out.clear();
  RegKey key;
  if (OpenUserKey(userId, KEY_QUERY_VALUE, key) != ERROR_SUCCESS) return false;
  char count[protect::kFlagReadBuffer + 1];
  if (ReadProtectionValue(key.get(), protect::kFileNumValue, count, protect::kFlagReadBuffer) != ERROR_SUCCESS)
    return false;
  const unsigned n = protect::EntryCount(count);
  char level[protect::kNameReadBuffer + 1], name[protect::kNameReadBuffer + 1];
  for (unsigned k = 0; k < n; ++k) {
    if (ReadProtectionValue(key.get(), store::SlotValueName(protect::kLevelValueBase, k).text, level,
                            protect::kNameReadBuffer) != ERROR_SUCCESS ||
        ReadProtectionValue(key.get(), store::SlotValueName(protect::kNameValueBase, k).text, name,
                            protect::kNameReadBuffer) != ERROR_SUCCESS)
      continue;
    out.push_back(protect::Entry{level, name});
  }
  return true;
}

template <typename Fn>
void ForEachStoredFolder(const char* userId, Fn fn) {
  std::vector<protect::Entry> entries;
  try {
    ReadList(userId, entries);
  } catch (const std::bad_alloc&) {
    // Whatever was read before memory ran out is still worked through.
  }
  for (const protect::Entry& e : entries)
    if (IsFolder(e.path)) fn(e);
}

}  // namespace

bool ProtectionKeyPath(const char* userId, char* out, std::size_t cap) {
  if (cap == 0) return false;
  out[0] = '\0';
  if (userId == nullptr || userId[0] == '\0' || std::strchr(userId, '\\') != nullptr) return false;
  const std::size_t base = std::strlen(store::kProtectionKey), id = std::strlen(userId);
  if (base + 1 + id >= cap) return false;
  std::memcpy(out, store::kProtectionKey, base);
  out[base] = '\\';
  std::memcpy(out + base + 1, userId, id + 1);
  return true;
}

LONG ReadProtectionValue(HKEY key, const char* name, char* buffer, std::size_t size) {
  std::memset(buffer, 0, size + 1);
  DWORD len = static_cast<DWORD>(size);
  const LONG err = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &len);
  if (err != ERROR_SUCCESS) std::memset(buffer, 0, size + 1);
  return err;
}

bool ReadProtectionList(const char* userId, std::vector<protect::Entry>& out) {
  try {
    return ReadList(userId, out);
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
}

bool WriteProtectionList(const char* userId, const std::vector<protect::Entry>& entries) {
  RegKey key;
  if (OpenUserKey(userId, KEY_SET_VALUE, key) != ERROR_SUCCESS) return false;
  unsigned k = 0;
  for (const protect::Entry& e : entries) {
    if (SetText(key.get(), store::SlotValueName(protect::kLevelValueBase, k).text, e.level.c_str()) != ERROR_SUCCESS ||
        SetText(key.get(), store::SlotValueName(protect::kNameValueBase, k).text, e.path.c_str()) != ERROR_SUCCESS)
      return false;
    ++k;
  }
  char count[16];
  std::snprintf(count, sizeof count, "%u", k);
  return SetText(key.get(), protect::kFileNumValue, count) == ERROR_SUCCESS;
}

bool PrivateFilesChecked(const char* userId) {
  if (userId == nullptr || userId[0] == '\0') return false;
  return GetProfileIntA(protect::kLockFileCheckSection, userId, 0) == 1;
}

bool SetPrivateFiles(const char* userId, bool enabled) {
  char path[kKeyPathBuffer];
  if (!ProtectionKeyPath(userId, path, sizeof path)) return false;
  RegKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = WriteProfileStringA(protect::kLockFileCheckSection, userId, enabled ? "1" : "0") != FALSE;
  if (!enabled) {
    ClearListDecorations(userId);
    ok = SetText(key.get(), protect::kFileNumValue, "0") == ERROR_SUCCESS && ok;
  }
  return SetText(key.get(), protect::kLockFileValue, store::YesNo(enabled)) == ERROR_SUCCESS && ok;
}

void ClearListDecorations(const char* userId) {
  ForEachStoredFolder(userId, [](const protect::Entry& e) { ClearLockStatus(e.path.c_str()); });
}

void RestoreListDecorations(const char* userId) {
  ForEachStoredFolder(userId, [](const protect::Entry& e) {
    ShowLockStatus(e.path.c_str(), protect::DecorationLevel(e.level));
  });
}

void RemoveProtectionDecorations(const char* userId, void*) { ClearListDecorations(userId); }

}  // namespace kelm::win

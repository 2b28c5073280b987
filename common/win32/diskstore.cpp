#include "common/win32/diskstore.h"

#include <cstdio>
#include <cstring>

#include "common/byteorder.h"
#include "common/textutil.h"
#include "common/win32/handles.h"

namespace kelm::win {

namespace {

std::string UserKeyPath(const char* userId) {
  std::string path = store::kRootKey;
  if (userId != nullptr && *userId != '\0') {
    path += '\\';
    path += userId;
  }
  return path;
}

LONG OpenKey(const std::string& path, REGSAM access, RegKey& key) {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, key.put());
}

LONG CreateSubkey(HKEY parent, const char* name, REGSAM access, RegKey& key) {
  return RegCreateKeyExA(parent, name, 0, const_cast<char*>(""), 0, access, nullptr, key.put(), nullptr);
}

LONG SetRaw(const char* userId, const char* name, DWORD type, const void* data, DWORD length) {
  RegKey key;
  const LONG err = OpenKey(UserKeyPath(userId), KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, key);
  if (err != ERROR_SUCCESS) return err;
  return RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), length);
}

// Reads up to limit bytes of a value of an open key.
LONG QueryRaw(HKEY key, const char* name, void* buffer, DWORD limit, DWORD& length) {
  length = limit;
  const LONG err = RegQueryValueExA(key, name, nullptr, nullptr, static_cast<BYTE*>(buffer), &length);
  if (err != ERROR_SUCCESS) length = 0;
  return err;
}

// A text value under the 150-byte limit, terminated and cut into dst.
LONG QueryText(HKEY key, const char* name, char* dst, std::size_t cap) {
  char buf[store::kTextReadLimit + 1] = {};
  DWORD len = 0;
  const LONG err = QueryRaw(key, name, buf, static_cast<DWORD>(store::kTextReadLimit), len);
  CopyBounded(dst, cap, err == ERROR_SUCCESS ? buf : "");
  return err;
}

LONG QueryNumber(HKEY key, const char* name, std::uint32_t& value) {
  BYTE b[4] = {};
  DWORD len = 0;
  const LONG err = QueryRaw(key, name, b, sizeof b, len);
  value = err == ERROR_SUCCESS ? LoadLe32(b) : 0;
  return err;
}

LONG DeleteSubkey(const char* parentPath, const char* name) {
  RegKey parent;
  const LONG err = OpenKey(parentPath, KEY_ALL_ACCESS, parent);
  if (err != ERROR_SUCCESS) return err;
  return RegDeleteKeyA(parent.get(), name);
}

}  // namespace

bool EnsureRoot() {
  RegKey root;
  if (OpenKey(store::kRootKey, KEY_READ, root) == ERROR_SUCCESS) return true;
  RegKey software;
  if (OpenKey(store::kSoftwareKey, KEY_CREATE_SUB_KEY, software) != ERROR_SUCCESS) return false;
  RegKey created;
  return CreateSubkey(software.get(), "kelm", KEY_CREATE_SUB_KEY, created) == ERROR_SUCCESS;
}

LONG EnsureUser(const char* userId) {
  RegKey root;
  LONG err = OpenKey(store::kRootKey, KEY_CREATE_SUB_KEY, root);
  if (err != ERROR_SUCCESS) return err;
  RegKey user;
  return CreateSubkey(root.get(), userId, KEY_READ, user);
}

LONG SetText(const char* userId, const char* name, const char* text) {
  if (text == nullptr) text = "";
  return SetRaw(userId, name, REG_SZ, text, static_cast<DWORD>(std::strlen(text) + 1));
}

LONG SetNumber(const char* userId, const char* name, std::uint32_t value) {
  BYTE b[4];
  StoreLe32(b, value);
  return SetRaw(userId, name, REG_DWORD, b, sizeof b);
}

LONG SetBytes(const char* userId, const char* name, const void* bytes, DWORD length) {
  return SetRaw(userId, name, REG_BINARY, bytes, length);
}

LONG GetValue(const char* userId, const char* name, void* buffer, DWORD* length, DWORD limit) {
  if (length) *length = 0;
  RegKey key;
  const LONG err = OpenKey(UserKeyPath(userId), KEY_READ, key);
  if (err != ERROR_SUCCESS) return err;
  DWORD got = 0;
  const LONG qerr = QueryRaw(key.get(), name, buffer, limit, got);
  if (length) *length = got;
  return qerr;
}

LONG GetText(const char* userId, const char* name, char* dst, std::size_t cap) {
  if (cap) dst[0] = '\0';
  RegKey key;
  const LONG err = OpenKey(UserKeyPath(userId), KEY_READ, key);
  if (err != ERROR_SUCCESS) return err;
  return QueryText(key.get(), name, dst, cap);
}

LONG GetNumber(const char* userId, const char* name, std::uint32_t& value) {
  value = 0;
  RegKey key;
  const LONG err = OpenKey(UserKeyPath(userId), KEY_READ, key);
  if (err != ERROR_SUCCESS) return err;
  return QueryNumber(key.get(), name, value);
}

LONG StoreLogicDriver() {
  return SetText(nullptr, "logicdriver", std::to_string(GetLogicalDrives() & ~3u).c_str());
}

int ReadInstallType() {
  char text[store::kTextReadLimit];
  GetText(nullptr, "INSTALLTYPE", text, sizeof text);
  return store::InstallTypeFromText(text);
}

std::vector<std::string> ListUsers() {
  std::vector<std::string> users;
  RegKey root;
  if (OpenKey(store::kRootKey, KEY_READ, root) != ERROR_SUCCESS) return users;
  char name[store::kUserNameBuffer];
  for (DWORD i = 0; i < static_cast<DWORD>(store::kMaxUsers); ++i) {
    if (RegEnumKeyA(root.get(), i, name, sizeof name) != ERROR_SUCCESS) break;
    users.emplace_back(name);
  }
  return users;
}

LONG DeleteUser(const char* userId) { return DeleteSubkey(store::kRootKey, userId); }

SaveSlotResult SaveSlot(const char* userId, unsigned slot, const SlotSettings& s, const char* delayText,
                        const store::UserPasswordTable* passwords) {
  if (slot >= store::kSlotCount || userId == nullptr || *userId == '\0') return SaveSlotResult::BadSlot;
  // A path of 150 characters or more would be stored but never read back
  // (the readers' 150-byte limit), so the slot would silently never mount.
  if (s.imagePath.size() > store::kMaxImagePath) return SaveSlotResult::PathTooLong;
  std::uint8_t pass[store::kSlotPassField];
  if (!store::EncodeSlotPassword(s.password, pass)) return SaveSlotResult::PasswordTooLong;

  if (!EnsureRoot()) return SaveSlotResult::NoStore;
  EnsureUser(userId);
  SetText(userId, "delay", delayText != nullptr && *delayText != '\0' ? delayText : store::kDefaultDelay);
  if (passwords != nullptr) {
    if (const auto* e = passwords->Find(userId)) {
      std::uint8_t pas[store::kLoginPassField];
      if (store::EncodeLoginPassword(e->password, pas)) SetBytes(userId, "PAS", pas, sizeof pas);
    }
  }
  SetNumber(userId, "DiskNum", store::kDiskNum);

  const std::string path(s.imagePath);
  SetText(userId, store::SlotValueName("Valid", slot).text, store::YesNo(s.valid));
  SetText(userId, store::SlotValueName("ImageFile", slot).text, path.c_str());
  SetNumber(userId, store::SlotValueName("ImageFileSize", slot).text, s.sizeMb);
  SetText(userId, store::SlotValueName("AutoMount", slot).text, store::YesNo(s.autoMount));
  SetText(userId, store::SlotValueName("ReadOnly", slot).text, store::YesNo(s.readOnly));
  SetBytes(userId, store::SlotValueName("pass", slot).text, pass, sizeof pass);

  RebuildImageProtectionList(userId);
  return SaveSlotResult::Saved;
}

bool RebuildImageProtectionList(const char* userId) {
  char paths[store::kSlotCount][store::kTextReadLimit];
  for (unsigned n = 0; n < store::kSlotCount; ++n)
    GetText(userId, store::SlotValueName("ImageFile", n).text, paths[n], sizeof paths[n]);

  RegKey buildin;
  if (OpenKey(store::kBuildinKey, KEY_READ, buildin) != ERROR_SUCCESS) {
    RegKey software, made;
    if (OpenKey(store::kSoftwareKey, KEY_CREATE_SUB_KEY, software) == ERROR_SUCCESS) {
      CreateSubkey(software.get(), "keskbuildin", KEY_READ, made);
      CreateSubkey(software.get(), "kesk", KEY_READ, made);
    }
  }
  RegKey parent, list;
  if (OpenKey(store::kBuildinKey, KEY_CREATE_SUB_KEY, parent) != ERROR_SUCCESS) return false;
  if (CreateSubkey(parent.get(), userId, KEY_SET_VALUE, list) != ERROR_SUCCESS) return false;

  auto put = [&list](const char* name, const std::string& text) {
    RegSetValueExA(list.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
  };
  unsigned k = 0;
  for (const auto& path : paths) {
    if (path[0] == '\0') continue;
    put(store::SlotValueName("filelevel", k).text, "1");
    put(store::SlotValueName("filename", k).text, std::string(store::ImageFileName(path)));
    ++k;
  }
  put("fileNum", std::to_string(k));
  return true;
}

std::vector<std::string> ListUsersWithPasswords(bool softwareMode, store::UserPasswordTable& passwords) {
  std::vector<std::string> users = ListUsers();
  if (!softwareMode) return users;
  passwords.Clear();
  std::vector<std::string> listed;
  int row = 0;
  for (const std::string& id : users) {
    std::uint8_t pas[store::kLoginPassReadLimit];
    DWORD len = 0;
    GetValue(id.c_str(), "PAS", pas, &len, sizeof pas);
    if (len == 0) continue;
    auto& e = passwords.entries[row++];
    CopyBounded(e.userId, sizeof e.userId, id);
    store::DecodeLoginPassword(pas, len, e.password, sizeof e.password);
    listed.push_back(id);
  }
  return listed;
}

LONG DeleteUserStore(const char* userId, RemoveDecorationFn removeDecoration, void* context) {
  const LONG err = DeleteUser(userId);
  if (err != ERROR_SUCCESS) return err;
  DeleteSubkey(store::kBuildinKey, userId);
  if (removeDecoration != nullptr) removeDecoration(userId, context);
  WriteProfileStringA(store::kLockFileSection, userId, "0");
  DeleteSubkey(store::kProtectionKey, userId);
  return ERROR_SUCCESS;
}

int ReadUserIds(std::uint32_t* ids, int capacity) {
  RegKey root;
  if (ids == nullptr || OpenKey(store::kRootKey, KEY_READ, root) != ERROR_SUCCESS) return 0;
  char name[store::kUserNameBuffer];
  int count = 0;
  while (count < capacity && RegEnumKeyA(root.get(), static_cast<DWORD>(count), name, sizeof name) == ERROR_SUCCESS)
    ids[count++] = ParseDecimal(name);
  return count;
}

bool ReadUserConfig(std::uint32_t userId, store::StoredUser& out, bool withPasswords) {
  std::memset(&out, 0, sizeof out);
  char id[16];
  std::snprintf(id, sizeof id, "%u", static_cast<unsigned>(userId));
  RegKey key;
  if (OpenKey(UserKeyPath(id), KEY_READ, key) != ERROR_SUCCESS) return false;
  QueryText(key.get(), "delay", out.delay, sizeof out.delay);
  for (unsigned n = 0; n < store::kSlotCount; ++n) {
    store::StoredSlot& s = out.slots[n];
    QueryText(key.get(), store::SlotValueName("Valid", n).text, s.valid, sizeof s.valid);
    QueryText(key.get(), store::SlotValueName("ImageFile", n).text, s.imageFile, sizeof s.imageFile);
    QueryNumber(key.get(), store::SlotValueName("ImageFileSize", n).text, s.sizeMb);
    QueryText(key.get(), store::SlotValueName("AutoMount", n).text, s.autoMount, sizeof s.autoMount);
    QueryText(key.get(), store::SlotValueName("ReadOnly", n).text, s.readOnly, sizeof s.readOnly);
    if (withPasswords) {
      std::uint8_t pass[store::kSlotPassField] = {};
      DWORD len = 0;
      QueryRaw(key.get(), store::SlotValueName("pass", n).text, pass, sizeof pass, len);
      store::DecodeSlotPassword(pass, len, s.password);
    }
  }
  return true;
}

}  // namespace kelm::win

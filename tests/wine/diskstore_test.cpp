// The disk configuration store against the real registry of the bench
// prefix. Each test starts without the suite's keys and removes them again.
#include "common/win32/diskstore.h"

#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/win32/handles.h"

using namespace kelm;
using kelm::win::SaveSlotResult;
using kelm::win::SlotSettings;

namespace {

const char* const kTrees[] = {"SOFTWARE\\kelm", "SOFTWARE\\keskbuildin", "SOFTWARE\\kesk"};

bool KeyExists(const std::string& path) {
  win::RegKey k;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

// Raw value as stored: type and bytes; false when missing.
bool RawValue(const std::string& path, const char* name, DWORD& type, std::string& bytes) {
  win::RegKey k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS) return false;
  char buf[2048];
  DWORD len = sizeof buf;
  if (RegQueryValueExA(k.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &len) != ERROR_SUCCESS)
    return false;
  bytes.assign(buf, len);
  return true;
}

std::string Text(const std::string& path, const char* name) {
  DWORD type = 0;
  std::string b;
  if (!RawValue(path, name, type, b) || type != REG_SZ) return "<missing>";
  return std::string(b.c_str());
}

class DiskStore : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* t : kTrees)
      if (KeyExists(t)) GTEST_SKIP() << t << " exists in the prefix; not touching it";
    owned_ = true;
  }
  void TearDown() override {
    if (!owned_) return;
    for (const char* t : kTrees) SHDeleteKeyA(HKEY_LOCAL_MACHINE, t);
  }
  static SlotSettings Slot(const char* path, std::uint32_t mb, const char* pw = "") {
    SlotSettings s;
    s.valid = true;
    s.imagePath = path;
    s.sizeMb = mb;
    s.autoMount = true;
    s.readOnly = false;
    s.password = pw;
    return s;
  }
  bool owned_ = false;
};

}  // namespace

TEST_F(DiskStore, EnsureRootCreatesTheRoot) {
  ASSERT_FALSE(KeyExists("SOFTWARE\\kelm"));
  EXPECT_TRUE(win::EnsureRoot());
  EXPECT_TRUE(KeyExists("SOFTWARE\\kelm"));
  EXPECT_TRUE(win::EnsureRoot());
}

TEST_F(DiskStore, WritesAndReads) {
  ASSERT_TRUE(win::EnsureRoot());
  // No user key yet: nothing written, the open error returned.
  EXPECT_EQ(win::SetText("77", "delay", "20"), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(KeyExists("SOFTWARE\\kelm\\77"));
  ASSERT_EQ(win::EnsureUser("77"), ERROR_SUCCESS);
  EXPECT_EQ(win::SetText("77", "delay", "20"), ERROR_SUCCESS);
  EXPECT_EQ(win::SetText("", "configed", "yes"), ERROR_SUCCESS);
  EXPECT_EQ(win::SetNumber("77", "DiskNum", 4), ERROR_SUCCESS);
  const std::uint8_t bytes[3] = {1, 0, 2};
  EXPECT_EQ(win::SetBytes("77", "blob", bytes, 3), ERROR_SUCCESS);

  DWORD type = 0;
  std::string raw;
  ASSERT_TRUE(RawValue("SOFTWARE\\kelm\\77", "delay", type, raw));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(raw, std::string("20\0", 3));
  ASSERT_TRUE(RawValue("SOFTWARE\\kelm\\77", "DiskNum", type, raw));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(raw, std::string("\4\0\0\0", 4));
  ASSERT_TRUE(RawValue("SOFTWARE\\kelm\\77", "blob", type, raw));
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(raw, std::string("\1\0\2", 3));
  EXPECT_EQ(Text("SOFTWARE\\kelm", "configed"), "yes");

  char buf[150];
  DWORD len = 0;
  EXPECT_EQ(win::GetValue("77", "blob", buf, &len), ERROR_SUCCESS);
  EXPECT_EQ(len, 3u);
  EXPECT_EQ(win::GetValue("77", "blob", buf, &len, 2), ERROR_MORE_DATA);
  EXPECT_EQ(win::GetValue("77", "nothing", buf, &len), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(win::GetValue("78", "delay", buf, &len), ERROR_FILE_NOT_FOUND);
  std::uint32_t n = 9;
  EXPECT_EQ(win::GetNumber("77", "DiskNum", n), ERROR_SUCCESS);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(win::GetText(nullptr, "configed", buf, sizeof buf), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "yes");
}

TEST_F(DiskStore, TextReadLimitIs150Bytes) {
  ASSERT_TRUE(win::EnsureRoot());
  const std::string t149(149, 'a'), t150(150, 'b');
  ASSERT_EQ(win::SetText("", "t149", t149.c_str()), ERROR_SUCCESS);
  ASSERT_EQ(win::SetText("", "t150", t150.c_str()), ERROR_SUCCESS);
  char buf[200];
  EXPECT_EQ(win::GetText("", "t149", buf, sizeof buf), ERROR_SUCCESS);
  EXPECT_EQ(std::string(buf), t149);
  EXPECT_EQ(win::GetText("", "t150", buf, sizeof buf), ERROR_MORE_DATA);
  EXPECT_STREQ(buf, "");
}

TEST_F(DiskStore, LogicDriverMask) {
  EXPECT_NE(win::StoreLogicDriver(), ERROR_SUCCESS);  // no root yet
  ASSERT_TRUE(win::EnsureRoot());
  ASSERT_EQ(win::StoreLogicDriver(), ERROR_SUCCESS);
  const DWORD mask = GetLogicalDrives();
  ASSERT_NE(mask & (1u << 2), 0u);  // C:
  EXPECT_EQ(Text("SOFTWARE\\kelm", "logicdriver"), std::to_string(mask & ~3u));
}

TEST_F(DiskStore, InstallType) {
  EXPECT_EQ(win::ReadInstallType(), 0);  // no root at all
  ASSERT_TRUE(win::EnsureRoot());
  struct {
    const char* text;
    int type;
  } cases[] = {{"SOFTWARE", 1}, {"rfkey", 2}, {"RFBAND2", 3}, {"other", 0}};
  for (const auto& c : cases) {
    ASSERT_EQ(win::SetText("", "INSTALLTYPE", c.text), ERROR_SUCCESS);
    EXPECT_EQ(win::ReadInstallType(), c.type) << c.text;
  }
}

TEST_F(DiskStore, FirstSaveCreatesUserWithDelayAndOnlyThatSlot) {
  ASSERT_EQ(win::SaveSlot("1234", 2, Slot("C:\\v\\third.img", 64, "pw"), "", nullptr), SaveSlotResult::Saved);
  const std::string u = "SOFTWARE\\kelm\\1234";
  EXPECT_EQ(Text(u, "delay"), "15");
  std::uint32_t n = 0;
  EXPECT_EQ(win::GetNumber("1234", "DiskNum", n), ERROR_SUCCESS);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(Text(u, "Valid2"), "yes");
  EXPECT_EQ(Text(u, "ImageFile2"), "C:\\v\\third.img");
  EXPECT_EQ(win::GetNumber("1234", "ImageFileSize2", n), ERROR_SUCCESS);
  EXPECT_EQ(n, 64u);
  EXPECT_EQ(Text(u, "AutoMount2"), "yes");
  EXPECT_EQ(Text(u, "ReadOnly2"), "no");
  for (const char* other : {"Valid0", "Valid1", "Valid3", "ImageFile0", "pass3"}) {
    DWORD type;
    std::string b;
    EXPECT_FALSE(RawValue(u, other, type, b)) << other;
  }

  // A later save of slot 0 leaves slot 2 as stored and rewrites the delay.
  SlotSettings s = Slot("C:\\v\\first.img", 40);
  s.readOnly = true;
  s.autoMount = false;
  ASSERT_EQ(win::SaveSlot("1234", 0, s, "30", nullptr), SaveSlotResult::Saved);
  EXPECT_EQ(Text(u, "delay"), "30");
  EXPECT_EQ(Text(u, "ImageFile2"), "C:\\v\\third.img");
  EXPECT_EQ(Text(u, "ReadOnly0"), "yes");
  EXPECT_EQ(Text(u, "AutoMount0"), "no");
}

TEST_F(DiskStore, SlotPasswordFields) {
  ASSERT_EQ(win::SaveSlot("5", 0, Slot("C:\\a.img", 40, ""), "", nullptr), SaveSlotResult::Saved);
  ASSERT_EQ(win::SaveSlot("5", 1, Slot("C:\\b.img", 40, "123456789"), "", nullptr), SaveSlotResult::Saved);
  DWORD type = 0;
  std::string raw;
  ASSERT_TRUE(RawValue("SOFTWARE\\kelm\\5", "pass0", type, raw));
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(raw, std::string(20, '\0'));
  ASSERT_TRUE(RawValue("SOFTWARE\\kelm\\5", "pass1", type, raw));
  ASSERT_EQ(raw.size(), 20u);
  EXPECT_EQ(raw.substr(16), std::string(4, '\0'));
  EXPECT_NE(raw.substr(0, 9), "123456789");

  store::StoredUser user;
  ASSERT_TRUE(win::ReadUserConfig(5, user));
  EXPECT_STREQ(user.slots[0].password, "");
  EXPECT_STREQ(user.slots[1].password, "123456789");
  ASSERT_TRUE(win::ReadUserConfig(5, user, false));
  EXPECT_STREQ(user.slots[1].password, "");

  EXPECT_EQ(win::SaveSlot("5", 2, Slot("C:\\c.img", 40, "1234567890"), "", nullptr),
            SaveSlotResult::PasswordTooLong);
  EXPECT_EQ(Text("SOFTWARE\\kelm\\5", "ImageFile2"), "<missing>");
}

TEST_F(DiskStore, OverlongPathIsRefusedAndWritesNothing) {
  const std::string p150 = "C:\\" + std::string(143, 'p') + ".img";
  ASSERT_EQ(p150.size(), 150u);
  EXPECT_EQ(win::SaveSlot("9", 1, Slot(p150.c_str(), 40), "20", nullptr), SaveSlotResult::PathTooLong);
  EXPECT_FALSE(KeyExists("SOFTWARE\\kelm\\9"));

  const std::string p149 = p150.substr(1);
  ASSERT_EQ(win::SaveSlot("9", 1, Slot(p149.c_str(), 40), "20", nullptr), SaveSlotResult::Saved);
  store::StoredUser user;
  ASSERT_TRUE(win::ReadUserConfig(9, user));
  EXPECT_EQ(std::string(user.slots[1].imageFile), p149);

  // Written behind the dialog's back, such a path reads back as missing.
  ASSERT_EQ(win::SetText("9", "ImageFile1", p150.c_str()), ERROR_SUCCESS);
  ASSERT_TRUE(win::ReadUserConfig(9, user));
  EXPECT_STREQ(user.slots[1].imageFile, "");
  EXPECT_TRUE(store::IsYes(user.slots[1].valid));
}

TEST_F(DiskStore, SaveRefusesBadSlot) {
  EXPECT_EQ(win::SaveSlot("9", 4, Slot("C:\\a.img", 40), "", nullptr), SaveSlotResult::BadSlot);
  EXPECT_EQ(win::SaveSlot("", 0, Slot("C:\\a.img", 40), "", nullptr), SaveSlotResult::BadSlot);
  EXPECT_FALSE(KeyExists("SOFTWARE\\kelm"));
}

TEST_F(DiskStore, ImageProtectionList) {
  ASSERT_EQ(win::SaveSlot("42", 0, Slot("C:\\imgs\\one.img", 40), "", nullptr), SaveSlotResult::Saved);
  ASSERT_EQ(win::SaveSlot("42", 2, Slot("D:\\three.img", 40), "", nullptr), SaveSlotResult::Saved);
  ASSERT_TRUE(KeyExists("SOFTWARE\\kesk"));
  const std::string l = "SOFTWARE\\keskbuildin\\42";
  EXPECT_EQ(Text(l, "fileNum"), "2");
  EXPECT_EQ(Text(l, "filename0"), "one.img");
  EXPECT_EQ(Text(l, "filelevel0"), "1");
  EXPECT_EQ(Text(l, "filename1"), "three.img");
  EXPECT_EQ(Text(l, "filelevel1"), "1");

  // Emptying slot 0: the count drops, the old entry past it stays.
  ASSERT_EQ(win::SaveSlot("42", 0, Slot("", 0), "", nullptr), SaveSlotResult::Saved);
  EXPECT_EQ(Text(l, "fileNum"), "1");
  EXPECT_EQ(Text(l, "filename0"), "three.img");
  EXPECT_EQ(Text(l, "filename1"), "three.img");
}

TEST_F(DiskStore, ListUsersTakesFifty) {
  ASSERT_TRUE(win::EnsureRoot());
  for (int i = 0; i < 51; ++i) ASSERT_EQ(win::EnsureUser(std::to_string(1000 + i).c_str()), ERROR_SUCCESS);
  const auto users = win::ListUsers();
  ASSERT_EQ(users.size(), 50u);
  EXPECT_EQ(users.front(), "1000");
  std::uint32_t ids[60] = {};
  EXPECT_EQ(win::ReadUserIds(ids, 50), 50);
  EXPECT_EQ(ids[0], 1000u);
  EXPECT_EQ(ids[49], 1049u);
  EXPECT_EQ(ids[50], 0u);
}

TEST_F(DiskStore, LeadingZeroNameIsListedButNotFound) {
  ASSERT_TRUE(win::EnsureRoot());
  ASSERT_EQ(win::SaveSlot("0123", 0, Slot("C:\\z.img", 40), "", nullptr), SaveSlotResult::Saved);
  const auto users = win::ListUsers();
  ASSERT_EQ(users.size(), 1u);
  EXPECT_EQ(users[0], "0123");
  std::uint32_t ids[50];
  ASSERT_EQ(win::ReadUserIds(ids, 50), 1);
  EXPECT_EQ(ids[0], 123u);
  store::StoredUser user;
  EXPECT_FALSE(win::ReadUserConfig(123, user));
  EXPECT_STREQ(user.slots[0].imageFile, "");
}

TEST_F(DiskStore, ReaderFlagsAndDefaults) {
  ASSERT_TRUE(win::EnsureRoot());
  ASSERT_EQ(win::EnsureUser("7"), ERROR_SUCCESS);
  ASSERT_EQ(win::SetText("7", "Valid0", "YES"), ERROR_SUCCESS);
  ASSERT_EQ(win::SetText("7", "Valid1", "y"), ERROR_SUCCESS);
  ASSERT_EQ(win::SetNumber("7", "ImageFileSize0", 33), ERROR_SUCCESS);
  store::StoredUser user;
  ASSERT_TRUE(win::ReadUserConfig(7, user));
  EXPECT_TRUE(store::IsYes(user.slots[0].valid));
  EXPECT_FALSE(store::IsYes(user.slots[1].valid));
  EXPECT_FALSE(store::IsYes(user.slots[2].valid));
  EXPECT_EQ(user.slots[0].sizeMb, 33u);
  EXPECT_EQ(user.slots[1].sizeMb, 0u);
  EXPECT_STREQ(user.delay, "");
  EXPECT_EQ(store::DelaySeconds(user.delay), 15u);
}

TEST_F(DiskStore, SoftwareModeLoginPasswords) {
  static store::UserPasswordTable table;
  table.Clear();
  ASSERT_TRUE(table.Put("11", "alpha"));
  ASSERT_EQ(win::SaveSlot("11", 0, Slot("C:\\a.img", 40), "", &table), SaveSlotResult::Saved);
  // A user without "PAS" (saved without the table) is not listed.
  ASSERT_EQ(win::SaveSlot("22", 0, Slot("C:\\b.img", 40), "", nullptr), SaveSlotResult::Saved);
  DWORD type = 0;
  std::string raw;
  ASSERT_TRUE(RawValue("SOFTWARE\\kelm\\11", "PAS", type, raw));
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(raw.size(), 24u);

  static store::UserPasswordTable listed;
  listed.Clear();
  ASSERT_TRUE(listed.Put("99", "stale"));
  const auto users = win::ListUsersWithPasswords(true, listed);
  ASSERT_EQ(users.size(), 1u);
  EXPECT_EQ(users[0], "11");
  EXPECT_STREQ(listed.entries[0].userId, "11");
  EXPECT_STREQ(listed.entries[0].password, "alpha");
  EXPECT_EQ(listed.entries[1].userId[0], '\0');

  const auto all = win::ListUsersWithPasswords(false, listed);
  EXPECT_EQ(all.size(), 2u);
}

namespace {

struct DecorationCall {
  int calls = 0;
  bool protectionListPresent = false;
  bool userKeyPresent = true;
  std::string userId;
};

void RecordDecoration(const char* userId, void* ctx) {
  auto* c = static_cast<DecorationCall*>(ctx);
  ++c->calls;
  c->userId = userId;
  c->protectionListPresent = KeyExists(std::string("Software\\kesk\\") + userId);
  c->userKeyPresent = KeyExists(std::string("SOFTWARE\\kelm\\") + userId);
}

}  // namespace

TEST_F(DiskStore, DeleteUserStoreSide) {
  ASSERT_EQ(win::SaveSlot("314", 0, Slot("C:\\a.img", 40), "", nullptr), SaveSlotResult::Saved);
  win::RegKey k;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\kesk\\314", 0, nullptr, 0, KEY_WRITE, nullptr, k.put(),
                            nullptr),
            ERROR_SUCCESS);
  k.reset();
  ASSERT_TRUE(KeyExists("SOFTWARE\\keskbuildin\\314"));

  DecorationCall call;
  EXPECT_EQ(win::DeleteUserStore("314", RecordDecoration, &call), ERROR_SUCCESS);
  EXPECT_EQ(call.calls, 1);
  EXPECT_EQ(call.userId, "314");
  EXPECT_TRUE(call.protectionListPresent);
  EXPECT_FALSE(call.userKeyPresent);
  EXPECT_FALSE(KeyExists("SOFTWARE\\kelm\\314"));
  EXPECT_FALSE(KeyExists("SOFTWARE\\keskbuildin\\314"));
  EXPECT_FALSE(KeyExists("Software\\kesk\\314"));
  char v[16];
  GetProfileStringA("lockfilechk", "314", "", v, sizeof v);
  EXPECT_STREQ(v, "0");
  WriteProfileStringA("lockfilechk", "314", nullptr);

  // A user that is not there: the first step fails and nothing else runs.
  DecorationCall none;
  EXPECT_NE(win::DeleteUserStore("314", RecordDecoration, &none), ERROR_SUCCESS);
  EXPECT_EQ(none.calls, 0);
  GetProfileStringA("lockfilechk", "314", "", v, sizeof v);
  EXPECT_STREQ(v, "");
  EXPECT_NE(win::DeleteUser("314"), ERROR_SUCCESS);
}

// The folder decoration and KelmCfg's side of the protection list store
// against real files, folders, WIN.INI and registry of the bench prefix.
#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/win32/diskstore.h"
#include "common/win32/lockdecor.h"
#include "common/win32/protectstore.h"
#include "protectfix.h"
#include "tests/cases/profiletext_cases.h"

using namespace kelmtest;
namespace win = kelm::win;

namespace {

const std::string kWork = "C:\\kelmtest\\protect";
constexpr DWORD kLockBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

class Decoration : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveTree(kWork);
    ASSERT_TRUE(CreateDirectoryA(kWork.c_str(), nullptr));
    ASSERT_TRUE(files_.Install());
  }
  void TearDown() override {
    RemoveTree(kWork);
    files_.Remove();
  }
  static std::string Folder(const std::string& name) {
    const std::string f = kWork + "\\" + name;
    CreateDirectoryA(f.c_str(), nullptr);
    return f;
  }
  DecorationFiles files_;
};

TEST_F(Decoration, WriterCasesOnRealFiles) {
  const std::string file = kWork + "\\case.ini";
  for (const ProfileCase& c : kProfileCases) {
    DeleteFileA(file.c_str());
    if (c.before != kNoFile) {
      ASSERT_TRUE(WriteFileBytes(file, c.before)) << c.name;
    }
    EXPECT_EQ(win::MyWritePrivateProfileString(c.section, c.key, c.value, file.c_str()), 1) << c.name;
    EXPECT_EQ(ReadFileBytes(file), c.after) << c.name;
  }
}

TEST_F(Decoration, WriterFailuresLeaveTheFile) {
  const std::string dir = Folder("adir");
  EXPECT_EQ(win::MyWritePrivateProfileString("s", "k", "v", dir.c_str()), 0);
  EXPECT_EQ(win::MyWritePrivateProfileString("s", "k", "v", (kWork + "\\no\\such.ini").c_str()), 0);

  // Held open by another without sharing.
  const std::string held = kWork + "\\held.ini";
  ASSERT_TRUE(WriteFileBytes(held, "[s]\r\nk=old\r\n"));
  {
    kelm::win::UniqueHandle h(CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(h);
    EXPECT_EQ(win::MyWritePrivateProfileString("s", "k", "new", held.c_str()), 0);
  }
  EXPECT_EQ(ReadFileBytes(held), "[s]\r\nk=old\r\n");

  // Larger than the writer takes in: refused, not cut.
  const std::string big = kWork + "\\big.ini";
  const std::string bigText = "[s]\r\nk=" + std::string(win::kMaxProfileFile, 'x') + "\r\n";
  ASSERT_TRUE(WriteFileBytes(big, bigText));
  EXPECT_EQ(win::MyWritePrivateProfileString("s", "k", "new", big.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(big), bigText);
}

TEST_F(Decoration, ShowWithoutDesktopIniUsesTheTemplateAndTheLevelsIcon) {
  struct {
    const char* folder;
    int level;
    const char* icon;
    bool trailingSlash;
  } cases[] = {{"full", 1, "lockfld1.ico", false},
               {"general", 2, "lockfld2.ico", true},
               {"other", 7, "lockfld2.ico", false}};
  for (const auto& c : cases) {
    const std::string f = Folder(c.folder);
    const std::string arg = c.trailingSlash ? f + "\\" : f;
    EXPECT_EQ(win::ShowLockStatus(arg.c_str(), c.level), 1) << c.folder;
    EXPECT_TRUE(Attributes(f) & FILE_ATTRIBUTE_SYSTEM) << c.folder;
    EXPECT_TRUE(PathIsSystemFolderA(f.c_str(), 0)) << c.folder;
    const std::string ini = f + "\\Desktop.ini";
    EXPECT_EQ(ReadFileBytes(ini), DecoratedIni(DecorationFiles::Path(c.icon))) << c.folder;
    EXPECT_EQ(Attributes(ini) & kLockBits, 0u) << c.folder;
    // The system's own reader sees the same values.
    char tip[64] = {};
    GetPrivateProfileStringA(".ShellClassInfo", "InfoTip", "", tip, sizeof tip, ini.c_str());
    EXPECT_STREQ(tip, "Kelm Locked File");
  }
}

TEST_F(Decoration, ShowKeepsAnExistingDesktopIni) {
  const std::string f = Folder("has");
  const std::string ini = f + "\\Desktop.ini";
  ASSERT_TRUE(WriteFileBytes(ini, "[.SHELLCLASSINFO]\r\niconfile=old.ico\r\nIconFile=old2.ico\r\n[Other]\r\nx=1\r\n"));
  ASSERT_TRUE(SetFileAttributesA(ini.c_str(), kLockBits));
  EXPECT_EQ(win::ShowLockStatus(f.c_str(), 1), 1);
  const std::string icon = DecorationFiles::Path("lockfld1.ico");
  EXPECT_EQ(ReadFileBytes(ini), "[.SHELLCLASSINFO]\r\niconfile=" + icon + "\r\nIconFile=" + icon +
                                    "\r\nConfirmFileOp=0\r\nNoSharing=1\r\nIconIndex=0\r\nInfoTip=Kelm Locked File"
                                    "\r\n\r\n[Other]\r\nx=1\r\n\r\n");
  EXPECT_EQ(Attributes(ini) & kLockBits, 0u);
}

TEST_F(Decoration, MissingIconOrTemplate) {
  // No icon: nothing happens to the folder.
  const std::string icon1 = DecorationFiles::Path("lockfld1.ico");
  ASSERT_TRUE(DeleteFileA(icon1.c_str()));
  const std::string a = Folder("a");
  EXPECT_EQ(win::ShowLockStatus(a.c_str(), 1), 0);
  EXPECT_EQ(Attributes(a) & kLockBits, 0u);
  EXPECT_FALSE(Exists(a + "\\Desktop.ini"));
  // The other level's icon is still there.
  EXPECT_EQ(win::ShowLockStatus(a.c_str(), 2), 1);

  // No template: the folder has become a system folder, but has no
  // Desktop.ini.
  ASSERT_TRUE(DeleteFileA(DecorationFiles::Path("lockcfg.ini").c_str()));
  const std::string b = Folder("b");
  EXPECT_EQ(win::ShowLockStatus(b.c_str(), 2), 0);
  EXPECT_FALSE(Exists(b + "\\Desktop.ini"));
  EXPECT_EQ(win::ShowLockStatus((kWork + "\\none").c_str(), 2), 0);
}

TEST_F(Decoration, ClearLeavesTheNeutralValues) {
  const std::string f = Folder("c");
  ASSERT_EQ(win::ShowLockStatus(f.c_str(), 2), 1);
  ASSERT_TRUE(SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_DIRECTORY | kLockBits));
  EXPECT_EQ(win::ClearLockStatus(f.c_str()), 1);
  EXPECT_EQ(Attributes(f) & kLockBits, 0u);
  EXPECT_TRUE(Attributes(f) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(ReadFileBytes(f + "\\Desktop.ini"), kClearedIni);
  EXPECT_EQ(Attributes(f + "\\Desktop.ini") & kLockBits, 0u);

  // Without Desktop.ini: attributes cleared, nothing written, 0.
  const std::string g = Folder("g");
  ASSERT_TRUE(SetFileAttributesA(g.c_str(), FILE_ATTRIBUTE_SYSTEM));
  EXPECT_EQ(win::ClearLockStatus(g.c_str()), 0);
  EXPECT_EQ(Attributes(g) & kLockBits, 0u);
  EXPECT_FALSE(Exists(g + "\\Desktop.ini"));
}

TEST_F(Decoration, FileCopy) {
  const std::string from = kWork + "\\from.bin", to = kWork + "\\to.bin";
  std::string data(200000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(WriteFileBytes(from, data));
  ASSERT_TRUE(WriteFileBytes(to, "old content"));
  EXPECT_EQ(win::MyCopyFile(from.c_str(), to.c_str()), 1);
  EXPECT_EQ(ReadFileBytes(to), data);
  ASSERT_TRUE(WriteFileBytes(from, ""));
  EXPECT_EQ(win::MyCopyFile(from.c_str(), to.c_str()), 1);
  EXPECT_EQ(ReadFileBytes(to), "");
  EXPECT_EQ(win::MyCopyFile((kWork + "\\missing").c_str(), to.c_str()), 0);
  EXPECT_EQ(win::MyCopyFile(from.c_str(), (kWork + "\\no\\dir\\x").c_str()), 0);
}

// --- KelmCfg's side of the store.

class Store : public Decoration {
 protected:
  void SetUp() override {
    if (KeyExists("Software\\kesk")) GTEST_SKIP() << "Software\\kesk exists in the prefix; not touching it";
    if (KeyExists("SOFTWARE\\kelm\\1234")) GTEST_SKIP() << "user 1234 exists in the prefix; not touching it";
    kelmExisted_ = KeyExists("SOFTWARE\\kelm");
    owned_ = true;
    Decoration::SetUp();
  }
  void TearDown() override {
    if (!owned_) return;
    Decoration::TearDown();
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\kesk");
    if (kelmExisted_)
      SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kelm\\1234");
    else
      SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kelm");
    WriteProfileStringA("lockfilechk", "1234", nullptr);
  }
  static std::vector<std::string> Paths(const std::vector<kelm::protect::Entry>& list) {
    std::vector<std::string> out;
    for (const auto& e : list) out.push_back(e.level + ":" + e.path);
    return out;
  }
  bool owned_ = false;
  bool kelmExisted_ = false;
};

TEST_F(Store, KeyPathRefusesWhatWouldLeaveTheUsersKey) {
  char out[64];
  EXPECT_TRUE(win::ProtectionKeyPath("1234", out, sizeof out));
  EXPECT_STREQ(out, "Software\\kesk\\1234");
  for (const char* bad : {"", "12\\34", "\\"}) {
    EXPECT_FALSE(win::ProtectionKeyPath(bad, out, sizeof out)) << bad;
    EXPECT_STREQ(out, "");
  }
  EXPECT_FALSE(win::ProtectionKeyPath(nullptr, out, sizeof out));
  EXPECT_FALSE(win::ProtectionKeyPath("123456789", out, 20));
  EXPECT_FALSE(win::SetPrivateFiles("", true));
  EXPECT_FALSE(KeyExists("Software\\kesk"));
}

TEST_F(Store, ReadsWhatReadsAndAtMost511) {
  std::vector<kelm::protect::Entry> list;
  EXPECT_FALSE(win::ReadProtectionList("1234", list));
  ASSERT_TRUE(StoreValues("1234", {{"filelevel0", "1"}, {"filename0", "c:\\a"}}));
  EXPECT_FALSE(win::ReadProtectionList("1234", list)) << "no fileNum";
  ASSERT_TRUE(StoreValues("1234", {{"fileNum", "4"},
                                   {"filelevel1", "2"},  // no filename1: left out
                                   {"filelevel2", "2"},
                                   {"filename2", "c:\\c"},
                                   {"filelevel3", "1"},
                                   {"filename3", std::string(498, 'p')},
                                   {"filelevel4", "1"},
                                   {"filename4", "c:\\past the count"}}));
  ASSERT_TRUE(win::ReadProtectionList("1234", list));
  EXPECT_EQ(Paths(list), (std::vector<std::string>{"1:c:\\a", "2:c:\\c", "1:" + std::string(498, 'p')}));
  // A name of 499 characters does not fit the 499-byte buffer.
  ASSERT_TRUE(StoreValues("1234", {{"filename3", std::string(499, 'p')}}));
  ASSERT_TRUE(win::ReadProtectionList("1234", list));
  EXPECT_EQ(list.size(), 2u);

  std::vector<std::pair<std::string, std::string>> many = {{"fileNum", "600"}};
  for (int k = 0; k < 600; ++k) {
    many.push_back({"filelevel" + std::to_string(k), "1"});
    many.push_back({"filename" + std::to_string(k), "c:\\f" + std::to_string(k)});
  }
  ASSERT_TRUE(StoreValues("1234", many));
  ASSERT_TRUE(win::ReadProtectionList("1234", list));
  ASSERT_EQ(list.size(), 511u);
  EXPECT_EQ(list.back().path, "c:\\f510");
}

TEST_F(Store, WriteReplacesFromIndexZeroAndLeavesTheRest) {
  std::vector<kelm::protect::Entry> entries = {{"1", "c:\\c"}, {"2", "c:\\a"}};
  EXPECT_FALSE(win::WriteProtectionList("1234", entries)) << "the key is not created";
  EXPECT_FALSE(KeyExists("Software\\kesk\\1234"));
  ASSERT_TRUE(StoreValues("1234", {{"fileNum", "3"}, {"filelevel2", "1"}, {"filename2", "c:\\old"}}));
  ASSERT_TRUE(win::WriteProtectionList("1234", entries));
  EXPECT_EQ(StoredText("1234", "fileNum"), "2");
  EXPECT_EQ(StoredText("1234", "filename0"), "c:\\c");
  EXPECT_EQ(StoredText("1234", "filelevel0"), "1");
  EXPECT_EQ(StoredText("1234", "filename1"), "c:\\a");
  EXPECT_EQ(StoredText("1234", "filelevel1"), "2");
  EXPECT_EQ(StoredText("1234", "filename2"), "c:\\old");
  ASSERT_TRUE(win::WriteProtectionList("1234", {}));
  EXPECT_EQ(StoredText("1234", "fileNum"), "0");
}

TEST_F(Store, SwitchOnAndOff) {
  EXPECT_FALSE(win::PrivateFilesChecked("1234"));
  ASSERT_TRUE(win::SetPrivateFiles("1234", true));
  EXPECT_TRUE(win::PrivateFilesChecked("1234"));
  EXPECT_EQ(ProfileText("lockfilechk", "1234"), "1");
  EXPECT_EQ(StoredText("1234", "lockfile"), "yes");
  EXPECT_EQ(StoredText("1234", "fileNum"), "<missing>");

  const std::string dir = Folder("d"), file = kWork + "\\f.txt";
  ASSERT_TRUE(WriteFileBytes(file, "x"));
  ASSERT_TRUE(StoreValues("1234", {{"fileNum", "2"}, {"filelevel0", "2"}, {"filename0", dir},
                                   {"filelevel1", "1"}, {"filename1", file}}));
  ASSERT_EQ(win::ShowLockStatus(dir.c_str(), 2), 1);

  ASSERT_TRUE(win::SetPrivateFiles("1234", false));
  EXPECT_FALSE(win::PrivateFilesChecked("1234"));
  EXPECT_EQ(ProfileText("lockfilechk", "1234"), "0");
  EXPECT_EQ(StoredText("1234", "lockfile"), "no");
  EXPECT_EQ(StoredText("1234", "fileNum"), "0");
  EXPECT_EQ(StoredText("1234", "filename0"), dir) << "entries stay past the count";
  EXPECT_EQ(ReadFileBytes(dir + "\\Desktop.ini"), kClearedIni);
  EXPECT_EQ(Attributes(dir) & kLockBits, 0u);
  EXPECT_EQ(ReadFileBytes(file), "x");
}

TEST_F(Store, DecorationsFollowEachEntrysLevel) {
  const std::string a = Folder("a"), b = Folder("b"), c = Folder("c");
  ASSERT_TRUE(StoreValues("1234", {{"fileNum", "4"}, {"filelevel0", "1"}, {"filename0", a},
                                   {"filelevel1", "2"}, {"filename1", b}, {"filelevel2", "3"},
                                   {"filename2", c + "\\"}, {"filelevel3", "1"}, {"filename3", kWork + "\\gone"}}));
  win::RestoreListDecorations("1234");
  EXPECT_EQ(ReadFileBytes(a + "\\Desktop.ini"), DecoratedIni(DecorationFiles::Path("lockfld1.ico")));
  EXPECT_EQ(ReadFileBytes(b + "\\Desktop.ini"), DecoratedIni(DecorationFiles::Path("lockfld2.ico")));
  EXPECT_EQ(ReadFileBytes(c + "\\Desktop.ini"), DecoratedIni(DecorationFiles::Path("lockfld2.ico")));
  EXPECT_FALSE(Exists(kWork + "\\gone"));
  win::ClearListDecorations("1234");
  for (const std::string& f : {a, b, c}) {
    EXPECT_EQ(ReadFileBytes(f + "\\Desktop.ini"), kClearedIni) << f;
    EXPECT_EQ(Attributes(f) & kLockBits, 0u) << f;
  }
}

TEST_F(Store, DeletingAUserRemovesItsDecorations) {
  const std::string a = Folder("a");
  ASSERT_TRUE(win::EnsureRoot());
  ASSERT_EQ(win::EnsureUser("1234"), ERROR_SUCCESS);
  ASSERT_TRUE(win::SetPrivateFiles("1234", true));
  ASSERT_TRUE(StoreValues("1234", {{"fileNum", "1"}, {"filelevel0", "1"}, {"filename0", a}}));
  ASSERT_EQ(win::ShowLockStatus(a.c_str(), 1), 1);
  EXPECT_EQ(win::DeleteUserStore("1234", win::RemoveProtectionDecorations, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(ReadFileBytes(a + "\\Desktop.ini"), kClearedIni);
  EXPECT_EQ(Attributes(a) & kLockBits, 0u);
  EXPECT_FALSE(KeyExists("Software\\kesk\\1234"));
  EXPECT_EQ(ProfileText("lockfilechk", "1234"), "0");
}

}  // namespace

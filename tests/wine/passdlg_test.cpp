// The configuration password dialogs run for real: a helper thread fills
// and clicks them and answers their message boxes while the test thread sits
// in the modal loop.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/cfgpass.h"
#include "common/desvariant.h"
#include "common/win32/cfgpassword.h"
#include "common/win32/handles.h"
#include "common/win32/language.h"
#include "resources/passdlg.h"
#include "uidriver.h"

namespace {

using namespace kelmtest;
using kelm::win::PasswordDialogFlavour;

constexpr char kSetCaption[] = "Sets a password";
constexpr char kAskCaption[] = "Please Input your password";
constexpr char kInvalid[] = "Invalde Password.";

std::string StampPath(bool fallback) {
  char p[1100];
  EXPECT_TRUE(kelm::win::StampFilePath(fallback, p, sizeof p));
  return p;
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<std::uint8_t> data;
  kelm::win::UniqueHandle h(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!h) return data;
  std::uint8_t buf[256];
  DWORD n = 0;
  if (ReadFile(h.get(), buf, sizeof buf, &n, nullptr)) data.assign(buf, buf + n);
  return data;
}

bool ReadCfgPass(std::vector<std::uint8_t>& out, DWORD& type) {
  kelm::win::RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kelm", 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
    return false;
  std::uint8_t buf[64];
  DWORD size = sizeof buf;
  if (RegQueryValueExA(key.get(), "CFGPASS", nullptr, &type, buf, &size) != ERROR_SUCCESS) return false;
  out.assign(buf, buf + size);
  return true;
}

void DeleteCfgPass() {
  kelm::win::RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kelm", 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
    RegDeleteValueA(key.get(), "CFGPASS");
}

std::string TodayStamp() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  char d[16];
  std::snprintf(d, sizeof d, "%04d%02d%02d", st.wYear, st.wMonth, st.wDay);
  return d;
}

// Runs a modal dialog on this thread while script drives it from another;
// whatever the script leaves open is cancelled so the test cannot hang.
INT_PTR RunDriven(const std::function<INT_PTR()>& dialog, const std::function<void()>& script) {
  std::thread driver([&] {
    script();
    CloseAll();
  });
  const INT_PTR r = dialog();
  driver.join();
  return r;
}

struct Step {
  const char* first;
  const char* second;
  const char* boxCaption;  // null: the dialog is expected to end
  const char* boxText;
};

class PassDlg : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    kelm::win::LanguageInit(kelm::win::LanguageFileKind::ProgramDir);
    kelm::win::RegKey key;
    storeExisted_ =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kelm", 0, KEY_READ, key.put()) == ERROR_SUCCESS;
  }
  static void TearDownTestSuite() {
    if (!storeExisted_) RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kelm");
  }
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    DeleteCfgPass();
    DeleteFileA(StampPath(false).c_str());
    DeleteFileA(StampPath(true).c_str());
    RemoveDirectoryA(StampPath(false).c_str());
    RemoveDirectoryA(StampPath(true).c_str());
  }

  // Runs the set dialog through the given entries; each step either shows
  // its message box (and the dialog stays) or ends the dialog.
  static INT_PTR SetWith(const std::vector<Step>& steps,
                         PasswordDialogFlavour flavour = PasswordDialogFlavour::KelmCfg) {
    return RunDriven([&] { return kelm::win::ConfigPasswordDialog(nullptr, flavour); },
                     [&] {
                       HWND d = WaitDialog(kSetCaption);
                       ASSERT_NE(d, nullptr);
                       for (const Step& s : steps) {
                         SetItemText(d, IDC_INPASS_EDIT1, s.first);
                         SetItemText(d, IDC_INPASS_EDIT2, s.second);
                         Click(d, IDOK);
                         if (!s.boxCaption) {
                           EXPECT_TRUE(WaitGone(d));
                           return;
                         }
                         const BoxSeen box = AnswerBox(s.boxCaption);
                         EXPECT_TRUE(box.found) << s.first;
                         EXPECT_EQ(box.text, s.boxText) << s.first;
                         EXPECT_TRUE(box.warningIcon) << s.first;
                         EXPECT_TRUE(StaysOpen(d)) << "dialog stays open";
                       }
                       Click(d, IDCANCEL);
                       EXPECT_TRUE(WaitGone(d));
                     });
  }

  static void Set(const char* password) {
    ASSERT_EQ(SetWith({{password, password, nullptr, nullptr}}), 0);
  }

  // Runs the check dialog with the entries; the last one either verifies
  // (box null) or is answered and followed by Cancel.
  static INT_PTR AskWith(const std::vector<const char*>& entries, const char* lastBoxCaption,
                         const char* lastBoxText, bool endsAfterBox = false) {
    return RunDriven([] { return kelm::win::AskPasswordDialog(nullptr); },
                     [&] {
                       HWND d = WaitDialog(kAskCaption);
                       ASSERT_NE(d, nullptr);
                       for (std::size_t i = 0; i < entries.size(); ++i) {
                         SetItemText(d, IDC_ASKPASS_EDIT, entries[i]);
                         Click(d, IDOK);
                         const bool last = i + 1 == entries.size();
                         if (last && !lastBoxCaption) {
                           EXPECT_TRUE(WaitGone(d));
                           return;
                         }
                         const BoxSeen box = AnswerBox(last ? lastBoxCaption : "Warning");
                         EXPECT_TRUE(box.found) << entries[i];
                         EXPECT_EQ(box.text, last ? lastBoxText : kInvalid) << entries[i];
                         EXPECT_TRUE(box.warningIcon) << entries[i];
                         if (last && endsAfterBox) {
                           EXPECT_TRUE(WaitGone(d));
                           return;
                         }
                         EXPECT_TRUE(StaysOpen(d)) << "dialog stays open";
                       }
                       Click(d, IDCANCEL);
                       EXPECT_TRUE(WaitGone(d));
                     });
  }

  static bool Verified(const char* entry) { return AskWith({entry}, nullptr, nullptr) == 111; }
  static bool RefusedWithInvalid(const char* entry) { return AskWith({entry}, "Warning", kInvalid) == 0; }

  static bool storeExisted_;
};
bool PassDlg::storeExisted_ = false;

TEST_F(PassDlg, TextsOfBothDialogs) {
  RunDriven([] { return kelm::win::ConfigPasswordDialog(nullptr, PasswordDialogFlavour::KelmCfg); },
            [] {
              HWND d = WaitDialog(kSetCaption);
              ASSERT_NE(d, nullptr);
              EXPECT_EQ(ItemText(d, IDC_INPASS_TEXT1), "Please input a password. Only the one who knows the");
              EXPECT_EQ(ItemText(d, IDC_INPASS_TEXT2),
                        "password has the privilege to config the virtual disk Information");
              EXPECT_EQ(ItemText(d, IDC_INPASS_TEXT3), "Please remember the password, it is very important..");
              EXPECT_EQ(ItemText(d, IDC_INPASS_TEXT4), "The password is limited to 8 characters.");
              EXPECT_EQ(ItemText(d, IDC_INPASS_LABEL1), "password:");
              EXPECT_EQ(ItemText(d, IDC_INPASS_LABEL2), "Input password again:");
              EXPECT_EQ(ItemText(d, IDOK), "Ok");
              EXPECT_EQ(ItemText(d, IDCANCEL), "Cancel");
              EXPECT_TRUE(GetWindowLongA(GetDlgItem(d, IDC_INPASS_EDIT1), GWL_STYLE) & ES_PASSWORD);
              EXPECT_TRUE(GetWindowLongA(GetDlgItem(d, IDC_INPASS_EDIT2), GWL_STYLE) & ES_PASSWORD);
              Click(d, IDCANCEL);
            });
  RunDriven([] { return kelm::win::AskPasswordDialog(nullptr); },
            [] {
              HWND d = WaitDialog(kAskCaption);
              ASSERT_NE(d, nullptr);
              EXPECT_EQ(ItemText(d, IDC_ASKPASS_PROMPT), "Please input your password");
              EXPECT_EQ(ItemText(d, IDOK), "Ok");
              EXPECT_EQ(ItemText(d, IDCANCEL), "Cancel");
              EXPECT_TRUE(GetWindowLongA(GetDlgItem(d, IDC_ASKPASS_EDIT), GWL_STYLE) & ES_PASSWORD);
              Click(d, IDCANCEL);
            });
}

TEST_F(PassDlg, SetWritesBothRecordsAndAskVerifies) {
  Set("abc");
  const std::string today = TodayStamp();
  std::vector<std::uint8_t> file = ReadWholeFile(StampPath(false));
  ASSERT_EQ(file.size(), 20u);
  std::uint8_t expect[20] = {};
  std::memcpy(expect, today.data(), 8);
  EXPECT_EQ(0, std::memcmp(file.data(), expect, 20));

  std::vector<std::uint8_t> rec;
  DWORD type = 0;
  ASSERT_TRUE(ReadCfgPass(rec, type));
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  ASSERT_EQ(rec.size(), 20u);
  ASSERT_TRUE(kelm::CipherDecrypt("abc", rec.data(), 20));
  std::memcpy(expect + 8, "abc", 3);
  EXPECT_EQ(0, std::memcmp(rec.data(), expect, 20));

  EXPECT_TRUE(Verified("abc"));
}

TEST_F(PassDlg, CancelEndsWithZeroAndStoresNothing) {
  EXPECT_EQ(SetWith({}), 0);
  EXPECT_EQ(GetFileAttributesA(StampPath(false).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(AskWith({}, nullptr, nullptr), 0);
}

TEST_F(PassDlg, SetupCopyEndsWith111) {
  EXPECT_EQ(SetWith({{"setup1", "setup1", nullptr, nullptr}}, PasswordDialogFlavour::Setup), 111);
  EXPECT_TRUE(Verified("setup1"));
}

TEST_F(PassDlg, SetRefusesBadEntriesAndStaysOpen) {
  const char* msg12 = "Please input the configuration password,Please input twice.";
  const char* msg13 = "The configuration password are not same, Can not save.";
  const char* weak = "This password can not be used, please choose another one.";
  EXPECT_EQ(SetWith({{"", "", "Error", msg12},
                     {"abc", "", "Error", msg12},
                     {"", "abc", "Error", msg12},
                     {"abc", "ABC", "Error", msg13},  // letter case counts
                     {"abc", "abd", "Error", msg13},
                     {"~~~~~~~~", "~~~~~~~~", "Error", weak},
                     {"````````", "````````", "Error", weak}}),
            0);
  std::vector<std::uint8_t> rec;
  DWORD type;
  EXPECT_FALSE(ReadCfgPass(rec, type));
  EXPECT_EQ(GetFileAttributesA(StampPath(false).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(PassDlg, SetAcceptsAfterARefusal) {
  EXPECT_EQ(SetWith({{"abc", "ABC", "Error", "The configuration password are not same, Can not save."},
                     {"Abc", "Abc", nullptr, nullptr}}),
            0);
  EXPECT_TRUE(Verified("Abc"));
}

TEST_F(PassDlg, AskChecksEntries) {
  Set("abcdefgh");
  EXPECT_TRUE(RefusedWithInvalid("ABCDEFGH"));  // other letter case
  EXPECT_TRUE(RefusedWithInvalid("abcdefg"));
  EXPECT_TRUE(RefusedWithInvalid(""));
  EXPECT_TRUE(RefusedWithInvalid("~~~~~~~~"));  // refused key
  EXPECT_TRUE(Verified("abcdefghij"));          // only 8 characters count
  // Several tries in one dialog, then the right one.
  EXPECT_EQ(AskWith({"wrong", "ABCDEFGH", "abcdefgh"}, nullptr, nullptr), 111);
}

TEST_F(PassDlg, BitZeroDifferenceIsRefusedAtTheComparison) {
  Set("pass\xE1");
  // Same key (bit 0 of a byte from 128 up does not count), so the record
  // deciphers; the password characters then differ.
  std::vector<std::uint8_t> rec;
  DWORD type;
  ASSERT_TRUE(ReadCfgPass(rec, type));
  ASSERT_TRUE(kelm::CipherDecrypt("pass\xE0", rec.data(), 20));
  EXPECT_EQ(0, std::memcmp(rec.data() + 8, "pass\xE1", 6));
  EXPECT_TRUE(RefusedWithInvalid("pass\xE0"));
  EXPECT_TRUE(Verified("pass\xE1"));
}

TEST_F(PassDlg, MissingStampFile) {
  Set("abc");
  ASSERT_TRUE(DeleteFileA(StampPath(false).c_str()));
  EXPECT_EQ(AskWith({"abc"}, "Warning",
                    "I can not verify your password, you should reinstall the software again.", true),
            0);
  // A refused key is answered before the file is looked at.
  EXPECT_TRUE(RefusedWithInvalid("~~~~~~~~"));
}

TEST_F(PassDlg, MissingRecord) {
  Set("abc");
  DeleteCfgPass();
  EXPECT_TRUE(RefusedWithInvalid("abc"));
}

TEST_F(PassDlg, StampFromAnotherDayDoesNotMatch) {
  Set("abc");
  const std::uint8_t old[20] = {'2', '0', '0', '4', '0', '3', '1', '7'};
  {
    kelm::win::UniqueHandle h(
        CreateFileA(StampPath(false).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(h);
    DWORD n;
    ASSERT_TRUE(WriteFile(h.get(), old, sizeof old, &n, nullptr));
  }
  EXPECT_TRUE(RefusedWithInvalid("abc"));
}

TEST_F(PassDlg, FallbackStampName) {
  // A directory in the way of the first name: both writing and reading use
  // the ".dat" name.
  ASSERT_TRUE(CreateDirectoryA(StampPath(false).c_str(), nullptr));
  Set("abc");
  EXPECT_EQ(ReadWholeFile(StampPath(true)).size(), 20u);
  EXPECT_TRUE(Verified("abc"));
  ASSERT_TRUE(DeleteFileA(StampPath(true).c_str()));
  EXPECT_EQ(AskWith({"abc"}, "Warning",
                    "I can not verify your password, you should reinstall the software again.", true),
            0);
}

}  // namespace

namespace {

TEST_F(PassDlg, NeitherStampNameWritable) {
  ASSERT_TRUE(CreateDirectoryA(StampPath(false).c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(StampPath(true).c_str(), nullptr));
  EXPECT_EQ(SetWith({{"abc", "abc", "Error", "Save password Error."}}), 0);
  RemoveDirectoryA(StampPath(true).c_str());
  std::vector<std::uint8_t> rec;
  DWORD type;
  EXPECT_FALSE(ReadCfgPass(rec, type));
}

}  // namespace

int main(int argc, char** argv) {
  const int respawned = kelmtest::RespawnUnmanaged();
  if (respawned >= 0) return respawned;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

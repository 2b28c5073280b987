// LanguageTable against real language files beside the test program (the
// build's bin folder), in the system directory, and without any file.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/win32/language.h"

namespace {

using kelm::win::LanguageFileKind;

std::string ProgramDir() {
  char p[MAX_PATH];
  GetModuleFileNameA(nullptr, p, sizeof p);
  std::string s = p;
  return s.substr(0, s.rfind('\\'));
}

std::string SystemDir() {
  char p[MAX_PATH];
  GetSystemDirectoryA(p, sizeof p);
  return p;
}

std::string ReadAll(const std::string& path) {
  std::string s;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return s;
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) s.append(buf, n);
  CloseHandle(h);
  return s;
}

bool WriteAll(const std::string& path, const std::string& text) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  const bool ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr) && n == text.size();
  CloseHandle(h);
  return ok;
}

std::string Lookup(const char* key, const char* builtin, std::size_t cap = 256) {
  std::string dst(cap, '\x7f');
  kelm::win::LanguageLookup(key, builtin, dst.data(), cap);
  EXPECT_NE(dst.find('\0'), std::string::npos);
  return dst.c_str();
}

const std::string kLong(300, 'x');

const std::string kTestFile =
    "[0804]\r\n"
    "both=from 0804\r\n"
    "empty804=\r\n"
    "long=" + kLong + "\r\n"
    "[0409]\r\n"
    "both=from 0409\r\n"
    "only409=english\r\n"
    "empty804=english after empty\r\n"
    "emptyboth=\r\n"
    "[0C0A]\r\n"
    "both=from 0C0A\r\n"
    "[0c0b]\r\n"
    "lower=found by a lower-case section\r\n";

// The shipped language file is put aside while the tests use their own and
// restored afterwards (the build copies it again anyway).
class Language : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { shipped_ = ReadAll(ProgramDir() + "\\KelmCfg.lg"); }
  static void TearDownTestSuite() {
    if (!shipped_.empty()) WriteAll(ProgramDir() + "\\KelmCfg.lg", shipped_);
    kelm::win::LanguageInit(LanguageFileKind::ProgramDir);
  }
  void SetUp() override {
    kelm::win::LanguageInit(LanguageFileKind::ProgramDir);
    ASSERT_TRUE(WriteAll(ProgramDir() + "\\KelmCfg.lg", kTestFile));
  }
  static std::string shipped_;
};
std::string Language::shipped_;

TEST_F(Language, IdIsTheSystemDefault) {
  EXPECT_EQ(kelm::win::LanguageId(), static_cast<unsigned>(GetSystemDefaultLangID()));
}

TEST_F(Language, LookupOrder) {
  struct { unsigned id; const char *key, *builtin, *expect; } cases[] = {
      {0x0804, "both", "builtin", "from 0804"},
      {0x0804, "only409", "builtin", "english"},        // section lacks the key
      {0x0804, "missing", "builtin", "builtin"},        // neither section
      {0x0804, "empty804", "builtin", "english after empty"},  // empty counts as missing
      {0x0804, "emptyboth", "builtin", "builtin"},
      {0x0804, "missing", "", ""},                      // no built-in text
      {0x0409, "both", "builtin", "from 0409"},
      {0x0409, "only409", "builtin", "english"},
      {0x0C0A, "both", "builtin", "from 0C0A"},         // 4 upper-case digits
      {0x0C0A, "only409", "builtin", "english"},
      {0x0C0B, "lower", "builtin", "found by a lower-case section"},  // section names ignore case
      {0x0407, "both", "builtin", "from 0409"},         // no section for the language
  };
  for (const auto& c : cases) {
    kelm::win::LanguageSetIdForTest(c.id);
    EXPECT_EQ(Lookup(c.key, c.builtin), c.expect) << std::hex << c.id << " " << c.key;
  }
}

TEST_F(Language, LongValuesAreCutTo255) {
  kelm::win::LanguageSetIdForTest(0x0804);
  EXPECT_EQ(Lookup("long", "builtin"), kLong.substr(0, 255));
  EXPECT_EQ(Lookup("long", "builtin", 1024), kLong.substr(0, 255));
  EXPECT_EQ(Lookup("long", "builtin", 10), kLong.substr(0, 9));   // a small destination cuts more
  EXPECT_EQ(Lookup("missing", "builtin", 4), "bui");
}

TEST_F(Language, NoFileGivesBuiltinTexts) {
  ASSERT_TRUE(DeleteFileA((ProgramDir() + "\\KelmCfg.lg").c_str()));
  for (unsigned id : {0x0804u, 0x0409u}) {
    kelm::win::LanguageSetIdForTest(id);
    EXPECT_EQ(Lookup("both", "builtin"), "builtin");
    EXPECT_EQ(Lookup("both", ""), "");
  }
}

TEST_F(Language, SetupReadsItsLowerCaseName) {
  kelm::win::LanguageInit(LanguageFileKind::SetupDir);
  kelm::win::LanguageSetIdForTest(0x0804);
  EXPECT_EQ(Lookup("both", "builtin"), "from 0804");
}

TEST_F(Language, ShellExtensionReadsTheSystemCopy) {
  const std::string dir = SystemDir() + "\\kelm";
  const bool made = CreateDirectoryA(dir.c_str(), nullptr) != 0;
  const std::string file = dir + "\\KelmCfg.lg";
  ASSERT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << "left over from elsewhere";
  kelm::win::LanguageInit(LanguageFileKind::SystemKelm);
  kelm::win::LanguageSetIdForTest(0x0804);
  EXPECT_EQ(Lookup("both", "builtin"), "builtin");  // the program folder's file is not read
  ASSERT_TRUE(WriteAll(file, "[0804]\r\nboth=system copy\r\n"));
  EXPECT_EQ(Lookup("both", "builtin"), "system copy");
  DeleteFileA(file.c_str());
  if (made) RemoveDirectoryA(dir.c_str());
}

// The shipped English file: what it holds equals the built-in texts.
TEST_F(Language, ShippedFileHoldsTheEnglishTexts) {
  ASSERT_FALSE(shipped_.empty()) << "KelmCfg.lg missing beside the program";
  ASSERT_TRUE(WriteAll(ProgramDir() + "\\KelmCfg.lg", shipped_));
  kelm::win::LanguageSetIdForTest(0x0804);
  struct { const char *key, *text; } cases[] = {
      {"m_inpasstext1", "Please input a password. Only the one who knows the"},
      {"m_inpasstext2", "password has the privilege to config the virtual disk Information"},
      {"m_inpasstext3", "Please remember the password, it is very important.."},
      {"m_inpasstext4", "The password is limited to 8 characters."},
      {"m_inpasstext5", "password:"},
      {"m_inpasstext6", "Input password again:"},
      {"okbtntext", "Ok"},
      {"canceltext", "Cancel"},
      {"Passwordtext", "Please input your password"},
      {"Okbtntext", "Ok"},
      {"Cancelbtntext", "Cancel"},
      {"cfgdlg_msg12", "Please input the configuration password,Please input twice."},
      {"cfgdlg_msg13", "The configuration password are not same, Can not save."},
      {"IvalidePassword", "Invalde Password."},
      {"Password_Msg0", "I can not verify your password, you should reinstall the software again."},
      {"cfgdlg_msgweakkey", "This password can not be used, please choose another one."},
      {"cfgdlg_msgpathlen", "The image file path is too long, at most 149 characters are allowed."},
      {"m_delaytext1", "If the receiver can not get key code,delay "},  // trailing blank kept
      {"m_privateuseridtext", "User ID: "},
      {"existcancel", "Cance;"},
      {"cfgdlg_msg2", "Please input the file name of image file 1."},
      {"cfgdlg_msg27", "Invalid image file size of file 1."},
      {"cfgdlg_msg33", "Invalid image file size of file 4."},
      {"kelshmenutext0", "Set [%s] as my private file(Full Protection)"},
      {"m_delayvalue", "<absent>"},  // two built-in values ("15", "30") depending on the reader
  };
  for (const auto& c : cases) EXPECT_EQ(Lookup(c.key, "<absent>"), c.text) << c.key;
}

}  // namespace

// Configuring the suite from the tray program alone: KelmCfg.exe as its own
// process, the real service and the stand-ins. "Config" runs the sequence
// (configuration password, the question, protection switched to
// configuring, the disks dismounted), the configuration dialog is driven
// through its controls from this process, and Close puts everything back.
// The registry, the image files, kelmsim's account of the monitor and the
// service's log are read after each step.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "common/storefields.h"
#include "common/win32/cfgpassword.h"
#include "common/win32/diskstore.h"
#include "resources/configdlg.h"
#include "screenshot.h"
#include "trayprogram.h"

using namespace kelm::test;
using kelm::win::UniqueHandle;

namespace {

constexpr char kConfigPassword[] = "cfgpw1";
constexpr char kDisks[] = "C:\\kelmcfgtest\\disks";
constexpr char kConfigCaption[] = "Umbrel Hard Disk";

struct Monitor {
  std::string user, configuring;
  unsigned long reloads = 0;
};

Monitor ReadMonitor() {
  Monitor m;
  std::istringstream in(Kelmsim("status").out);
  for (std::string l; std::getline(in, l);) {
    if (l.rfind("monitor ", 0) != 0) continue;
    std::istringstream f(l.substr(8));
    f >> m.user >> m.configuring >> m.reloads;
  }
  return m;
}

std::string RegText(const std::string& key, const char* name) {
  char buf[300] = {};
  DWORD len = sizeof buf - 1, type = 0;
  RegKey k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS) return "<no key>";
  if (RegQueryValueExA(k.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &len) != ERROR_SUCCESS)
    return "<no value>";
  if (type == REG_DWORD) return std::to_string(*reinterpret_cast<DWORD*>(buf));
  return buf;
}

bool KeyExists(const std::string& key) {
  RegKey k;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Disk(const char* name) { return std::string(kDisks) + "\\" + name; }

// A real image as the Create button makes it, by kelmimg.
bool MakeImage(const std::string& path, unsigned mb, const char* password) {
  DeleteFileA(path.c_str());
  const RunResult r = RunProgram("\"" + BinDir() + "\\kelmimg.exe\" create --size " + std::to_string(mb) +
                                 " --password " + password + " --no-sync \"" + path + "\"");
  return r.exitCode == 0;
}

class ConfigTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Svc("-remove");
    Kelmsim("uninstall", true);
    for (const char* u : {"1234", "5555", "77"}) kelm::win::DeleteUser(u);
    SaveImages("1234", {0, 1}, 9);
    CreateDirectoryA(kDisks, nullptr);
    ASSERT_NO_FATAL_FAILURE(PrepareTrayFolder());
    ASSERT_EQ(kelm::win::SaveConfigPassword(kConfigPassword), kelm::win::SavePasswordResult::Ok);
  }
  static void TearDownTestSuite() {
    for (const char* u : {"1234", "5555", "77"}) kelm::win::DeleteUserStore(u, nullptr, nullptr);
    ClearInstallMarks();
  }
  virtual const char* InstallType() const { return "RFKEY"; }
  void SetUp() override {
    SetRootText("INSTALLTYPE", InstallType());
    SetRootText("configed", nullptr);
    ASSERT_EQ(Kelmsim("install").code, 0u);
    StartService();
    logStart_ = ReadLog().size();
    ASSERT_TRUE(tray_.Start());
  }
  void TearDown() override {
    // A failed step must not leave a modal dialog running.
    for (const TopWindow& w : ProcessWindows(tray_.pid()))
      if (w.visible && w.caption == kConfigCaption) PostMessageA(w.hwnd, WM_COMMAND, IDC_CFG_CLOSE, 0);
    tray_.Close();
    Svc("-remove");
    Kelmsim("uninstall", true);
  }

  std::string NewLog() const { return ReadLog().substr(logStart_); }
  bool WaitLog(const std::string& text, std::size_t from = 0, DWORD ms = 10000) {
    return Poll([&] { return NewLog().find(text, from) != std::string::npos; }, ms);
  }
  HWND Wait(const char* caption, DWORD ms = 8000) { return WaitVisibleWindow(tray_.pid(), caption, ms); }

  // Answers the message box with this caption with button; its text.
  std::string Answer(const char* caption, int button = IDOK) {
    HWND box = Wait(caption);
    if (!box) return "<no " + std::string(caption) + " box>";
    const std::string text = ControlText(box, 0xFFFF);
    PostMessageA(box, WM_COMMAND, button, 0);
    Poll([&] { return !IsWindow(box); }, 3000);
    return text;
  }

  // "Config" from the tray menu up to the open configuration dialog.
  HWND OpenConfig() {
    PostMessageA(tray_.main(), WM_COMMAND, 32771, 0);
    HWND ask = Wait("Please Input your password");
    if (!ask) return nullptr;
    SetControlText(ask, 1112, kConfigPassword);
    PostMessageA(ask, WM_COMMAND, IDOK, 0);
    const std::string question = Answer("Warning", IDYES);
    EXPECT_EQ(question,
              "Before config the Umbrel disk, this tool will umount all mounted virtual hard disk,do you want to "
              "continue?");
    return Wait(kConfigCaption);
  }

  void Click(HWND dlg, int id) { PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  void Check(HWND dlg, int id, bool on) {
    SendMessageA(GetDlgItem(dlg, id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  bool Checked(HWND dlg, int id) { return SendMessageA(GetDlgItem(dlg, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  // Selects a user in the list as a person's choice does. (Wine carries the
  // list's strings across processes whole only in their wide form.)
  bool SelectUser(HWND dlg, const char* user) {
    const HWND list = GetDlgItem(dlg, IDC_CFG_USERS);
    WCHAR wide[64] = {};
    MultiByteToWideChar(CP_ACP, 0, user, -1, wide, 64);
    if (SendMessageW(list, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(wide)) == CB_ERR)
      return false;
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_CFG_USERS, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    return true;
  }
  std::string Users(HWND dlg) {
    const HWND list = GetDlgItem(dlg, IDC_CFG_USERS);
    std::string all;
    const LRESULT n = SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
      WCHAR wide[64] = {};
      char buf[64] = {};
      SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide));
      WideCharToMultiByte(CP_ACP, 0, wide, -1, buf, sizeof buf, nullptr, nullptr);
      all += std::string(all.empty() ? "" : ",") + buf;
    }
    return all;
  }

  TrayProgram tray_;
  std::size_t logStart_ = 0;
};

TEST_F(ConfigTest, SequenceDismountsConfiguresAndMountsAgain) {
  Sim("key 1234");
  ASSERT_TRUE(Poll([] { return AttachedCount() == 2; }, 10000));
  const unsigned long reloads = ReadMonitor().reloads;
  HWND dlg = OpenConfig();
  ASSERT_TRUE(dlg) << "no configuration dialog";
  // While it is open: protection in configuring mode, the disks dismounted.
  EXPECT_EQ(ReadMonitor().configuring, "yes");
  EXPECT_TRUE(WaitLog("CMD:32770"));
  EXPECT_TRUE(Poll([] { return AttachedCount() == 0; }, 8000));
  EXPECT_EQ(ControlText(dlg, IDC_CFG_USERLABEL), "Exist Users:");
  EXPECT_EQ(ControlText(dlg, IDC_CFG_CLOSE), "Close");
  EXPECT_EQ(ControlText(dlg, IDC_CFG_PATHLABEL1 + 3), "Image File 4:");
  EXPECT_EQ(ControlText(dlg, IDC_CFG_DELAY), "15");
  EXPECT_EQ(Users(dlg), "1234");
  // Nothing selected: the slot controls wait.
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, IDC_CFG_SAVE1)));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, IDC_CFG_CLOSE)));
  // Enter and Escape do not end it.
  for (WPARAM key : {WPARAM(VK_RETURN), WPARAM(VK_ESCAPE)}) {
    PostMessageA(GetDlgItem(dlg, IDC_CFG_DELAY), WM_KEYDOWN, key, 0);
    PostMessageA(GetDlgItem(dlg, IDC_CFG_DELAY), WM_KEYUP, key, 0);
  }
  // A check mark posted after the keys: once it shows, they were handled.
  PostMessageA(GetDlgItem(dlg, IDC_CFG_RO1), BM_SETCHECK, BST_CHECKED, 0);
  ASSERT_TRUE(Poll([&] { return Checked(dlg, IDC_CFG_RO1); }, 5000));
  EXPECT_TRUE(IsWindowVisible(dlg)) << "a key closed the dialog";
  Check(dlg, IDC_CFG_RO1, false);
  const std::size_t before = NewLog().size();
  Click(dlg, IDC_CFG_CLOSE);
  EXPECT_TRUE(Poll([&] { return !IsWindow(dlg); }, 5000));
  EXPECT_TRUE(Poll([] { return ReadMonitor().configuring == "no"; }, 5000));
  EXPECT_TRUE(WaitLog("CMD:32769", before));
  EXPECT_EQ(RegText("SOFTWARE\\kelm", "configed"), "yes");
  // One reload from "no" on top of those before; the key mounts again.
  EXPECT_GE(ReadMonitor().reloads, reloads + 1);
  EXPECT_TRUE(Poll([] { return AttachedCount() == 2; }, 10000));
}

TEST_F(ConfigTest, WrongConfigurationPasswordChangesNothing) {
  Sim("key 1234");
  ASSERT_TRUE(Poll([] { return AttachedCount() == 2; }, 10000));
  PostMessageA(tray_.main(), WM_COMMAND, 32771, 0);
  HWND ask = Wait("Please Input your password");
  ASSERT_TRUE(ask);
  SetControlText(ask, 1112, "wrong");
  PostMessageA(ask, WM_COMMAND, IDOK, 0);
  // The password dialog tells so itself; nothing of the sequence follows.
  for (const TopWindow& w : ProcessWindows(tray_.pid()))
    if (w.visible && w.caption != "Virtual Disk Manager") PostMessageA(w.hwnd, WM_COMMAND, IDCANCEL, 0);
  Poll([&] {
    for (const TopWindow& w : ProcessWindows(tray_.pid()))
      if (w.visible) PostMessageA(w.hwnd, WM_COMMAND, IDCANCEL, 0);
    return !IsWindow(ask);
  }, 5000);
  EXPECT_FALSE(IsWindow(ask));
  EXPECT_EQ(NewLog().find("CMD:32770"), std::string::npos);
  EXPECT_NE(ReadMonitor().configuring, "yes");
  EXPECT_EQ(AttachedCount(), 2);
}

TEST_F(ConfigTest, DialogConfiguresAUserTheServiceThenMounts) {
  HWND dlg = OpenConfig();
  ASSERT_TRUE(dlg);
  // The Received ID field follows the receiver.
  Sim("key 5555");
  EXPECT_TRUE(Poll([&] { return ControlText(dlg, IDC_CFG_RCV) == "5555"; }, 5000)) << ControlText(dlg, IDC_CFG_RCV);
  Sim("receiver unplug");
  EXPECT_TRUE(Poll([&] { return ControlText(dlg, IDC_CFG_RCV).empty(); }, 5000));
  Sim("receiver plug");
  EXPECT_TRUE(Poll([&] { return ControlText(dlg, IDC_CFG_RCV) == "5555"; }, 8000)) << "receiver not found again";
  Click(dlg, IDC_CFG_ADD);
  ASSERT_TRUE(Poll([&] { return Users(dlg) == "1234,5555"; }, 3000)) << Users(dlg);
  ASSERT_TRUE(SelectUser(dlg, "5555"));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, IDC_CFG_CREATE1)));
  // Slot 1: a new image, created and saved by Create.
  const std::string img0 = Disk("u5555-0.img");
  DeleteFileA(img0.c_str());
  SetControlText(dlg, IDC_CFG_PATH1, img0.c_str());
  SetControlText(dlg, IDC_CFG_SIZE1, "34");
  SetControlText(dlg, IDC_CFG_PASS1, "pw5555");
  Check(dlg, IDC_CFG_VALID1, true);
  Check(dlg, IDC_CFG_AUTO1, true);
  Click(dlg, IDC_CFG_CREATE1);
  EXPECT_EQ(Answer("Information", IDOK), "Create the Virtual disk File Success.");
  const std::string key = "SOFTWARE\\kelm\\5555";
  EXPECT_EQ(RegText(key, "Valid0"), "yes");
  EXPECT_EQ(RegText(key, "ImageFile0"), img0);
  EXPECT_EQ(RegText(key, "ImageFileSize0"), "34");
  EXPECT_EQ(RegText(key, "AutoMount0"), "yes");
  EXPECT_EQ(RegText(key, "ReadOnly0"), "no");
  const RunResult check = RunProgram("\"" + BinDir() + "\\kelmimg.exe\" check --password pw5555 \"" + img0 + "\"");
  EXPECT_EQ(check.exitCode, 0u) << check.out;
  // Loaded back after choosing another user and this one again.
  ASSERT_TRUE(SelectUser(dlg, "1234"));
  EXPECT_NE(ControlText(dlg, IDC_CFG_PATH1), img0);
  ASSERT_TRUE(SelectUser(dlg, "5555"));
  EXPECT_EQ(ControlText(dlg, IDC_CFG_PATH1), img0);
  EXPECT_EQ(ControlText(dlg, IDC_CFG_SIZE1), "34");
  EXPECT_EQ(ControlText(dlg, IDC_CFG_PASS1), "pw5555");
  EXPECT_TRUE(Checked(dlg, IDC_CFG_VALID1));
  EXPECT_TRUE(Checked(dlg, IDC_CFG_AUTO1));
  EXPECT_FALSE(Checked(dlg, IDC_CFG_RO1));
  // Private Files opens the user's list (its own template, not another's).
  Click(dlg, IDC_CFG_PRIVATE);
  HWND priv = Wait("Private Files");
  ASSERT_TRUE(priv) << "no private files dialog";
  EXPECT_EQ(ControlText(priv, 1096), "5555");
  EXPECT_EQ(ControlText(priv, 1099), "Exit");
  PostMessageA(priv, WM_COMMAND, 1099, 0);
  EXPECT_TRUE(Poll([&] { return !IsWindow(priv); }, 3000));
  // The delay is stored as it changes.
  SetControlText(dlg, IDC_CFG_DELAY, "7");
  EXPECT_TRUE(Poll([&] { return RegText(key, "delay") == "7"; }, 3000)) << RegText(key, "delay");
  CreateDirectoryA("C:\\kelmtest\\shots", nullptr);
  CreateDirectoryA("C:\\kelmtest\\shots\\kelmcfgconfig", nullptr);
  EXPECT_TRUE(kelmtest::SaveScreenPng("C:\\kelmtest\\shots\\kelmcfgconfig\\01-config-dialog-user-loaded.png"));
  // Closed: the service mounts what the dialog saved when the key is heard.
  Click(dlg, IDC_CFG_CLOSE);
  ASSERT_TRUE(Poll([&] { return !IsWindow(dlg); }, 5000));
  EXPECT_TRUE(Poll([] { return AttachedCount() == 1; }, 10000)) << Kelmsim("status").out;
  EXPECT_NE(Kelmsim("status").out.find(img0), std::string::npos) << Kelmsim("status").out;
}

TEST_F(ConfigTest, WrongSlotPasswordDeleteSlotAndDeleteUser) {
  // User 5555 from a store written before, with a protection list.
  const std::string img0 = Disk("u5555-0.img"), img1 = Disk("u5555-1.img");
  ASSERT_TRUE(WriteTestImage(img0, 34, "pw5555"));
  ASSERT_TRUE(MakeImage(img1, 35, "right"));
  kelm::win::SlotSettings s;
  s.valid = s.autoMount = true;
  s.imagePath = img0;
  s.sizeMb = 34;
  s.password = "pw5555";
  ASSERT_EQ(kelm::win::SaveSlot("5555", 0, s, "15", nullptr), kelm::win::SaveSlotResult::Saved);
  {
    RegKey k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\kesk\\5555", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              k.put(), nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(k.get(), "fileNum", 0, REG_SZ, reinterpret_cast<const BYTE*>("0"), 2);
  }
  WriteProfileStringA("lockfilechk", "5555", "1");
  ASSERT_TRUE(KeyExists("SOFTWARE\\keskbuildin\\5555"));

  HWND dlg = OpenConfig();
  ASSERT_TRUE(dlg);
  ASSERT_TRUE(SelectUser(dlg, "5555"));
  // Slot 2 names an image made under another password: refused, naming it.
  SetControlText(dlg, IDC_CFG_PATH1 + 1, img1.c_str());
  SetControlText(dlg, IDC_CFG_SIZE2, "35");
  SetControlText(dlg, IDC_CFG_PASS2, "wrong");
  Check(dlg, IDC_CFG_VALID1 + 1, true);
  Click(dlg, IDC_CFG_SAVE1 + 1);
  EXPECT_EQ(Answer("Error"), "The password of " + img1 +
                                 " is incorrect.You must input the correct password or ReCreate the Image file Format.");
  EXPECT_NE(RegText("SOFTWARE\\kelm\\5555", "ImageFile1"), img1);
  // With the right one it saves.
  SetControlText(dlg, IDC_CFG_PASS2, "right");
  Click(dlg, IDC_CFG_SAVE1 + 1);
  EXPECT_EQ(Answer("Information"), "Check Complete,No Error is found.");
  EXPECT_EQ(Answer("Information"), "Save Configuration data success.");
  EXPECT_EQ(RegText("SOFTWARE\\kelm\\5555", "ImageFile1"), img1);
  // Delete slot 1: asked, the file goes, the slot is saved empty.
  Click(dlg, IDC_CFG_DELETE1);
  EXPECT_EQ(Answer("Warning", IDYES),
            "The image file already is exist,this operation will destory all data in the image file.Continue?");
  EXPECT_TRUE(Poll([&] { return !FileExists(img0); }, 3000));
  EXPECT_TRUE(Poll([] { return RegText("SOFTWARE\\kelm\\5555", "Valid0") == "no"; }, 3000));
  EXPECT_EQ(RegText("SOFTWARE\\kelm\\5555", "ImageFile0"), "");
  EXPECT_EQ(ControlText(dlg, IDC_CFG_SIZE1), "0");
  // Delete User: its key, its lists, its WIN.INI switch and its images.
  Click(dlg, IDC_CFG_DELUSER);
  EXPECT_EQ(Answer("Question", IDYES), "Do you really want to delete the virtual disk config data of current user!");
  // The protection list key goes last.
  EXPECT_TRUE(Poll([] { return !KeyExists("Software\\kesk\\5555"); }, 5000));
  EXPECT_FALSE(KeyExists("SOFTWARE\\kelm\\5555"));
  EXPECT_FALSE(KeyExists("SOFTWARE\\keskbuildin\\5555"));
  char v[8] = {};
  GetProfileStringA("lockfilechk", "5555", "", v, sizeof v);
  EXPECT_STREQ(v, "0");
  EXPECT_TRUE(Poll([&] { return !FileExists(img1); }, 3000));
  EXPECT_EQ(Users(dlg), "1234");
  Click(dlg, IDC_CFG_CLOSE);
  EXPECT_TRUE(Poll([&] { return !IsWindow(dlg); }, 5000));
}

// Browse: the file dialog's choice is checked against the images of all
// users and the root rule; an accepted file fills the path and its size.
TEST_F(ConfigTest, BrowseChecksTheChosenFile) {
  const std::string big = Disk("big103.img"), fresh = Disk("fresh.img");
  DeleteFileA(fresh.c_str());
  {
    UniqueHandle f(CreateFileA(big.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(f);
    LARGE_INTEGER end;
    end.QuadPart = 103ll * 1048576;
    ASSERT_TRUE(SetFilePointerEx(f.get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(f.get()));
  }
  HWND dlg = OpenConfig();
  ASSERT_TRUE(dlg);
  ASSERT_TRUE(SelectUser(dlg, "1234"));
  const std::string own = ControlText(dlg, IDC_CFG_PATH1);
  ASSERT_FALSE(own.empty());
  // Picks `path` in the file dialog that the browse button of slot 3 opens.
  auto choose = [&](const std::string& path) {
    Click(dlg, IDC_CFG_BROWSE1 + 2);
    HWND open = Wait("Open");
    if (!open) return false;
    SetControlText(open, 0x47C, path.c_str());  // the file name box
    PostMessageA(open, WM_COMMAND, IDOK, 0);
    return Poll([&] { return !IsWindow(open); }, 5000);
  };
  ASSERT_TRUE(choose(own));
  EXPECT_EQ(Answer("Warning"), "You have already set the file as a virtual disk.");
  ASSERT_TRUE(choose("C:\\root-new.img"));
  EXPECT_EQ(Answer("Warning"), "Please don't create the virtual disk image file in root directory.");
  ASSERT_TRUE(choose(big));
  EXPECT_TRUE(Poll([&] { return ControlText(dlg, IDC_CFG_PATH1 + 2) == big; }, 3000)) << ControlText(dlg, IDC_CFG_PATH1 + 2);
  EXPECT_EQ(ControlText(dlg, IDC_CFG_SIZE3), "100");
  ASSERT_TRUE(choose(fresh));
  EXPECT_TRUE(Poll([&] { return ControlText(dlg, IDC_CFG_PATH1 + 2) == fresh; }, 3000));
  EXPECT_EQ(ControlText(dlg, IDC_CFG_SIZE3), "0");
  // Set Password opens the configuration password dialog.
  Click(dlg, IDC_CFG_SETPASS);
  HWND set = Wait("Sets a password");
  ASSERT_TRUE(set);
  PostMessageA(set, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(Poll([&] { return !IsWindow(set); }, 3000));
  Click(dlg, IDC_CFG_CLOSE);
  EXPECT_TRUE(Poll([&] { return !IsWindow(dlg); }, 5000));
  DeleteFileA(big.c_str());
}

// The file monitor cannot be reached before configuring: both messages,
// and nothing of the sequence follows (the disks stay).
TEST_F(ConfigTest, MonitorMissingBeforeConfiguringChangesNothing) {
  Sim("key 1234");
  ASSERT_TRUE(Poll([] { return AttachedCount() == 2; }, 10000));
  Sim("monitor stop");
  PostMessageA(tray_.main(), WM_COMMAND, 32771, 0);
  HWND ask = Wait("Please Input your password");
  ASSERT_TRUE(ask);
  SetControlText(ask, 1112, kConfigPassword);
  PostMessageA(ask, WM_COMMAND, IDOK, 0);
  Answer("Warning", IDYES);
  EXPECT_EQ(Answer("Information"), "Open the file system service fail. please wait a moment and try again.");
  EXPECT_EQ(Answer("Warning"), "I Can not connect to Umbrel hard disk service.");
  // The last box was the sequence's last step.
  EXPECT_EQ(VisibleWindow(tray_.pid(), kConfigCaption), nullptr);
  EXPECT_EQ(NewLog().find("CMD:32770"), std::string::npos);
  Sim("monitor start");
  EXPECT_EQ(AttachedCount(), 2);
}

// ...and after configuring: no mount-again request either.
TEST_F(ConfigTest, MonitorMissingAfterConfiguringSendsNoReload) {
  HWND dlg = OpenConfig();
  ASSERT_TRUE(dlg);
  ASSERT_TRUE(WaitLog("CMD:32770"));
  Sim("monitor stop");
  Click(dlg, IDC_CFG_CLOSE);
  EXPECT_EQ(Answer("Information"), "Open the file system service fail. please wait a moment and try again.");
  EXPECT_EQ(Answer("Warning"), "I Can not connect to Umbrel hard disk service.");
  EXPECT_FALSE(IsWindow(dlg));
  EXPECT_EQ(NewLog().find("CMD:32769"), std::string::npos);
  Sim("monitor start");
}

// Help opens the guide shipped beside the program through the shell's
// association for its type: a handler registered here records the open.
TEST_F(ConfigTest, HelpOpensTheGuide) {
  ASSERT_TRUE(CopyInto(kCfgDir, "readme_en.htm"));
  const std::string opened = BinDir() + "\\opened.txt";
  DeleteFileA(opened.c_str());
  char oldType[128] = {};
  LONG oldLen = sizeof oldType;
  const bool hadType = RegQueryValueA(HKEY_CLASSES_ROOT, ".htm", oldType, &oldLen) == ERROR_SUCCESS;
  const std::string command = "\"" + BinDir() + "\\openrecv.exe\" \"%1\"";
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, ".htm", REG_SZ, "kelmtest.guide", 0), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "kelmtest.guide\\shell\\open\\command", REG_SZ, command.c_str(), 0),
            ERROR_SUCCESS);
  HWND dlg = OpenConfig();
  ASSERT_TRUE(dlg);
  EXPECT_EQ(ControlText(dlg, IDC_CFG_HELP), "Help");
  Click(dlg, IDC_CFG_HELP);
  std::string got;
  EXPECT_TRUE(Poll(
      [&] {
        std::ifstream f(opened);
        std::getline(f, got);
        return got.find("readme_en.htm") != std::string::npos;
      },
      10000))
      << got;
  EXPECT_NE(got.find(std::string(kCfgDir) + "\\readme_en.htm"), std::string::npos) << got;
  Click(dlg, IDC_CFG_CLOSE);
  EXPECT_TRUE(Poll([&] { return !IsWindow(dlg); }, 5000));
  if (hadType)
    RegSetValueA(HKEY_CLASSES_ROOT, ".htm", REG_SZ, oldType, 0);
  else
    RegDeleteKeyA(HKEY_CLASSES_ROOT, ".htm");
  RegDeleteKeyA(HKEY_CLASSES_ROOT, "kelmtest.guide\\shell\\open\\command");
  RegDeleteKeyA(HKEY_CLASSES_ROOT, "kelmtest.guide\\shell\\open");
  RegDeleteKeyA(HKEY_CLASSES_ROOT, "kelmtest.guide\\shell");
  RegDeleteKeyA(HKEY_CLASSES_ROOT, "kelmtest.guide");
}

class SoftwareConfigTest : public ConfigTest {
 protected:
  const char* InstallType() const override { return "SOFTWARE"; }
};

TEST_F(SoftwareConfigTest, AddUserAsksForIdAndPassword) {
  HWND dlg = OpenConfig();
  ASSERT_TRUE(dlg);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(dlg, IDC_CFG_RCV)));
  EXPECT_EQ(ControlText(dlg, IDC_CFG_ADD), "Add User");
  Click(dlg, IDC_CFG_ADD);
  HWND add = Wait("Add New User");
  ASSERT_TRUE(add);
  EXPECT_EQ(ControlText(add, 1002), "Please input the new UserID and password:");
  SetControlText(add, 1004, "77");
  SetControlText(add, 1007, "pw77");
  PostMessageA(add, WM_COMMAND, IDOK, 0);
  // Users without a log-in password (1234 here) are not listed.
  ASSERT_TRUE(Poll([&] { return Users(dlg) == "77"; }, 3000)) << Users(dlg);
  // The user reaches the store with its first slot save, password and all.
  ASSERT_TRUE(SelectUser(dlg, "77"));
  const std::string img = Disk("u77-0.img");
  ASSERT_TRUE(MakeImage(img, 34, "d77"));
  SetControlText(dlg, IDC_CFG_PATH1, img.c_str());
  SetControlText(dlg, IDC_CFG_SIZE1, "34");
  SetControlText(dlg, IDC_CFG_PASS1, "d77");
  Check(dlg, IDC_CFG_VALID1, true);
  Click(dlg, IDC_CFG_SAVE1);
  EXPECT_EQ(Answer("Information"), "Check Complete,No Error is found.");
  EXPECT_EQ(Answer("Information"), "Save Configuration data success.");
  std::uint8_t pas[100] = {};
  DWORD len = 0;
  ASSERT_EQ(kelm::win::GetValue("77", "PAS", pas, &len, sizeof pas), ERROR_SUCCESS);
  char plain[100];
  kelm::store::DecodeLoginPassword(pas, len, plain, sizeof plain);
  EXPECT_STREQ(plain, "pw77");
  Click(dlg, IDC_CFG_CLOSE);
  EXPECT_TRUE(Poll([&] { return !IsWindow(dlg); }, 5000));
  kelm::win::DeleteUser("77");
  DeleteFileA(img.c_str());
}

// The suite holds 50 users: a 51st is refused with a message of its own and
// nothing is written.
TEST_F(SoftwareConfigTest, FiftyFirstUserIsRefused) {
  kelm::store::UserPasswordTable t{};
  t.Clear();
  std::vector<std::string> made;
  kelm::win::DeleteUser("1234");  // the store's 50 users are all listed
  // Only users with a log-in password are listed in a software installation.
  for (int i = 0; i < 50; ++i) {
    const std::string id = std::to_string(3000 + i);
    kelm::win::SlotSettings s;
    s.imagePath = "C:\\none.img";
    t.Clear();
    t.Put(id, "p");
    ASSERT_EQ(kelm::win::SaveSlot(id.c_str(), 3, s, "", &t), kelm::win::SaveSlotResult::Saved);
    made.push_back(id);
  }
  HWND dlg = OpenConfig();
  ASSERT_TRUE(dlg);
  const std::string listed = Users(dlg);
  Click(dlg, IDC_CFG_ADD);
  HWND add = Wait("Add New User");
  ASSERT_TRUE(add);
  SetControlText(add, 1004, "9999");
  SetControlText(add, 1007, "pw");
  PostMessageA(add, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(Answer("Warning"), "No more users can be added: the suite holds at most 50 users.");
  EXPECT_EQ(Users(dlg), listed);
  EXPECT_FALSE(KeyExists("SOFTWARE\\kelm\\9999"));
  Click(dlg, IDC_CFG_CLOSE);
  EXPECT_TRUE(Poll([&] { return !IsWindow(dlg); }, 5000));
  for (const std::string& id : made) kelm::win::DeleteUser(id.c_str());
  SaveImages("1234", {0, 1}, 9);
}

}  // namespace

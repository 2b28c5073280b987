// KelmCfg as a person meets it, on Wine's desktop with a taskbar: the tray
// icon's picture and tip through Ready, Running and Stopped, its menu
// opened with a real click and read from inside KelmCfg, a slot entry
// chosen with a real click, the log-in dialog and the key-loss warning on
// the screen. Screenshots of each state go to C:\kelmtest\shots\kelmcfg.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "menuspy.h"
#include "screenshot.h"
#include "shelldesktop.h"
#include "taskbarmain.h"
#include "tray.h"
#include "trayprogram.h"
#include "xinput.h"

using namespace kelm::test;
using namespace kelmtest;

namespace {

constexpr char kShotDir[] = "C:\\kelmtest\\shots\\kelmcfg";
constexpr char kReady[] = "Umbrel hard disk(Ready)";
constexpr char kRunning[] = "Umbrel Hard Disk (Running)";
constexpr char kStopped[] = "Umbrel Hard Disk (Stopped)";

std::string Shot(const char* name) { return std::string(kShotDir) + "\\" + name + ".png"; }

std::vector<std::string> Labels(const std::vector<MenuItem>& items) {
  std::vector<std::string> out;
  for (const MenuItem& m : items) out.push_back(m.separator ? "-" : m.Label() + (m.checked ? " [x]" : ""));
  return out;
}

const MenuItem* ItemWithId(const std::vector<MenuItem>& items, UINT id) {
  for (const MenuItem& m : items)
    if (m.id == id && !m.separator) return &m;
  return nullptr;
}

// Around the tray: the taskbar's right end and room for a tip above it.
RECT TrayArea() {
  RECT r{};
  GetWindowRect(tray::Taskbar(), &r);
  r.left = r.right - 420;
  r.top -= 90;
  return r;
}

void StopService() {
  ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ScHandle s(OpenServiceA(scm.get(), "KelmSvr", SERVICE_ALL_ACCESS));
  SERVICE_STATUS st{};
  ASSERT_TRUE(s && ControlService(s.get(), SERVICE_CONTROL_STOP, &st));
  ASSERT_TRUE(Poll(
      [] {
        SERVICE_STATUS q{};
        return QueryState(q) && q.dwCurrentState == SERVICE_STOPPED;
      },
      10000));
}

class KelmCfgTray : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CreateDirectoryA("C:\\kelmtest\\shots", nullptr);
    CreateDirectoryA(kShotDir, nullptr);
    Svc("-remove");
    Kelmsim("uninstall", true);
    kelm::win::DeleteUser("1234");
    SaveImages("1234", {0, 1}, 2);
    ASSERT_NO_FATAL_FAILURE(PrepareTrayFolder(8));
  }
  static void TearDownTestSuite() {
    kelm::win::DeleteUser("1234");
    ClearInstallMarks();
  }
  virtual const char* InstallType() const { return "RFKEY"; }
  void SetUp() override {
    SetRootText("INSTALLTYPE", InstallType());
    SetRootText("configed", "yes");
    ASSERT_EQ(Kelmsim("install").code, 0u);
    // The disks take the letters after the highest one in use now.
    first_ = FirstFreeLetter('D');
    StartService();
    logStart_ = ReadLog().size();
    ASSERT_TRUE(tray_.Start());
    icon136_ = tray::LoadIconFromFile(std::string(kCfgDir) + "\\KelmCfg.exe", 136);
    icon144_ = tray::LoadIconFromFile(std::string(kCfgDir) + "\\KelmCfg.exe", 144);
    ASSERT_TRUE(icon136_ && icon144_);
    ASSERT_TRUE(Poll([&] { return (cell_ = tray::FindIconByTip("Umbrel", 3000)) >= 0; }, 15000))
        << "no tray icon of KelmCfg";
  }
  void TearDown() override {
    for (const TopWindow& w : ProcessWindows(tray_.pid()))
      if (w.visible && w.caption != kMainCaption) PostMessageA(w.hwnd, WM_COMMAND, IDCANCEL, 0);
    tray_.Close();
    Svc("-remove");
    Kelmsim("uninstall", true);
    DestroyIcon(icon136_);
    DestroyIcon(icon144_);
  }
  std::string NewLog() const { return ReadLog().substr(logStart_); }
  DWORD UiThread() const { return GetWindowThreadProcessId(tray_.main(), nullptr); }
  std::string L(const char* pattern) const { return SlotLetters(first_, pattern); }

  TrayProgram tray_;
  HICON icon136_ = nullptr, icon144_ = nullptr;
  int cell_ = -1;
  char first_ = 0;  // FirstFreeLetter() in SetUp
  std::size_t logStart_ = 0;
};

TEST_F(KelmCfgTray, ReadyRunningStoppedInPictureAndTip) {
  EXPECT_EQ(tray::ReadTip(cell_), kReady);
  EXPECT_EQ(tray::IconDistance(cell_, icon144_), 0);
  EXPECT_GT(tray::IconDistance(cell_, icon136_), 20) << "the two state pictures look alike";
  const RECT area = TrayArea();
  EXPECT_TRUE(SaveScreenPng(Shot("01-tray-ready"), &area));

  Sim("key 1234");
  EXPECT_TRUE(tray::WaitIcon(cell_, icon136_, 10000)) << "the icon did not turn Running";
  EXPECT_EQ(tray::WaitTip(cell_, kRunning), kRunning);
  EXPECT_TRUE(SaveScreenPng(Shot("02-tray-running"), &area));

  // The service goes away: Stopped at once, and back within a poll or two.
  StopService();
  EXPECT_TRUE(tray::WaitIcon(cell_, icon144_, 5000));
  EXPECT_EQ(tray::WaitTip(cell_, kStopped), kStopped);
  EXPECT_EQ(tray_.Letters(), "----");
  EXPECT_TRUE(SaveScreenPng(Shot("03-tray-stopped"), &area));
  StartService();
  EXPECT_TRUE(tray::WaitIcon(cell_, icon136_, 10000)) << "KelmCfg did not follow the restarted service";
  EXPECT_EQ(tray::WaitTip(cell_, kRunning), kRunning);
}

TEST_F(KelmCfgTray, MenuFromARealClickAndASlotEntryChosen) {
  // Nobody present: only the fixed commands.
  {
    MenuSpy spy(UiThread());
    ASSERT_TRUE(spy.ok());
    ASSERT_TRUE(tray::ClickIcon(cell_));
    const auto items = spy.WaitMenu(10000);
    EXPECT_EQ(Labels(items), (std::vector<std::string>{"Config", "-", "UnInst", "-", "Hide"}));
    MenuSpy::Close(tray_.main());
    EXPECT_TRUE(spy.WaitClosed(5000));
  }
  Sim("key 1234");
  ASSERT_TRUE(Poll([] { return AttachedCount() == 2; }, 10000));
  const std::string want = L("01--");
  ASSERT_TRUE(tray_.WaitLetters(want)) << tray_.Letters();
  MenuSpy spy(UiThread());
  ASSERT_TRUE(spy.ok());
  ASSERT_TRUE(tray::ClickIcon(cell_));
  auto items = spy.WaitMenu(10000);
  const std::string d = std::string(1, want[0]), e = std::string(1, want[1]);
  EXPECT_EQ(Labels(items), (std::vector<std::string>{"Kelm(2)", "Kelm(1)->" + e + " [x]", "Kelm(0)->" + d + " [x]",
                                                      "-", "Config", "-", "UnInst", "-", "Hide"}));
  EXPECT_TRUE(SaveScreenPng(Shot("04-tray-menu")));
  // Slot 0's entry, chosen with a real click: dismounted, its letter gone.
  const MenuItem* slot0 = ItemWithId(items, 0x7000);
  ASSERT_TRUE(slot0);
  ASSERT_TRUE(MenuSpy::ChooseByClick(*slot0));
  EXPECT_TRUE(spy.WaitClosed(5000));
  ASSERT_TRUE(Poll([&] { return NewLog().find("CMD:32777:0") != std::string::npos; }, 5000));
  ASSERT_TRUE(Poll([] { return AttachedCount() == 1; }, 8000));
  EXPECT_TRUE(tray_.WaitLetters("-" + e + "--", 8000)) << tray_.Letters();
  MenuSpy again(UiThread());
  ASSERT_TRUE(tray::ClickIcon(cell_));
  items = again.WaitMenu(10000);
  EXPECT_EQ(Labels(items), (std::vector<std::string>{"Kelm(2)", "Kelm(1)->" + e + " [x]", "Kelm(0)", "-", "Config",
                                                      "-", "UnInst", "-", "Hide"}));
  MenuSpy::Close(tray_.main());
  EXPECT_TRUE(again.WaitClosed(5000));
}

TEST_F(KelmCfgTray, WarningOnTheScreen) {
  Sim("key 1234");
  ASSERT_TRUE(Poll([] { return AttachedCount() == 2; }, 10000));
  Sim("key none");
  HWND warning = WaitVisibleWindow(tray_.pid(), "Warning", 10000);
  ASSERT_TRUE(warning);
  // Centred and on top; its bar part-filled on the picture.
  RECT r{};
  GetWindowRect(warning, &r);
  const int cx = (r.left + r.right) / 2, sx = GetSystemMetrics(SM_CXSCREEN) / 2;
  EXPECT_LT(abs(cx - sx), 20);
  ASSERT_TRUE(Poll([&] { return ProgressPosition(GetDlgItem(warning, 1015)) >= 3; }, 6000));
  EXPECT_TRUE(SaveScreenPng(Shot("05-warning")));
  // Real Escape, Enter and Alt+F4 on the warning do nothing.
  POINT c{(r.left + r.right) / 2, r.top + 40};
  EXPECT_TRUE(x::KeysAt(c.x, c.y, {"Escape", "Return", "alt+F4"}));
  // The bar's next tick comes after the keys: still shown then.
  const HWND bar = GetDlgItem(warning, 1015);
  const int at = ProgressPosition(bar);
  ASSERT_TRUE(Poll([&] { return ProgressPosition(bar) > at; }, 3000));
  EXPECT_TRUE(IsWindowVisible(warning));
  Sim("key 1234");
  EXPECT_TRUE(Poll([&] { return NewLog().find("CMD:32773") != std::string::npos; }, 4000));
  EXPECT_TRUE(Poll([&] { return !IsWindowVisible(warning); }, 3000));
}

class KelmCfgTraySoftware : public KelmCfgTray {
 protected:
  const char* InstallType() const override { return "SOFTWARE"; }
};

TEST_F(KelmCfgTraySoftware, LogInEntryOpensTheDialog) {
  MenuSpy spy(UiThread());
  ASSERT_TRUE(spy.ok());
  ASSERT_TRUE(tray::ClickIcon(cell_));
  const auto items = spy.WaitMenu(10000);
  ASSERT_EQ(Labels(items), (std::vector<std::string>{"Log in (F12)", "-", "Config", "-", "UnInst", "-", "Hide"}));
  ASSERT_TRUE(MenuSpy::ChooseByClick(items[0]));
  HWND dlg = WaitVisibleWindow(tray_.pid(), "Kelm Mount/Umount Control", 8000);
  ASSERT_TRUE(dlg);
  EXPECT_TRUE(SaveScreenPng(Shot("06-login")));
  PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(Poll([&] { return !IsWindow(dlg); }, 3000));
}

// A translated tip longer than the tray holds is cut to 63 characters.
TEST_F(KelmCfgTray, LongTipIsCut) {
  tray_.Close();
  const std::string lg = std::string(kCfgDir) + "\\KelmCfg.lg";
  const std::string longTip(100, 'T');
  WritePrivateProfileStringA("0409", "TrayMessage1", longTip.c_str(), lg.c_str());
  TrayProgram second;
  ASSERT_TRUE(second.Start());
  int cell = -1;
  ASSERT_TRUE(Poll([&] { return (cell = tray::FindIconByTip("TTTT", 3000)) >= 0; }, 15000));
  EXPECT_EQ(tray::ReadTip(cell), longTip.substr(0, 63));
  second.Close();
  WritePrivateProfileStringA("0409", "TrayMessage1", kReady, lg.c_str());
}

}  // namespace

int main(int argc, char** argv) { return kelmtest::RunTestsOnTaskbarDesktop(argc, argv); }

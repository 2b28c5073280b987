// KelmCfg and KelmCtl together as Windows 98 has them, both as their own
// processes with Wine's Windows 98 version, the Windows 98 stand-ins in a
// prefix of their own, on a desktop with a taskbar: requests go to the
// "KelmMonitor" window as messages and notices come back the same way;
// nothing is read from a pipe. Screenshots go to C:\kelmtest\shots\kelmcfg98.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/win32/cfgpassword.h"
#include "common/win32/diskstore.h"
#include "drivers98.h"
#include "screenshot.h"
#include "shelldesktop.h"
#include "taskbarmain.h"
#include "tray.h"
#include "trayprogram.h"
#include "xinput.h"

using namespace kelm::test;
using namespace kelmtest;
using kelm::win::UniqueHandle;

namespace {

constexpr char kShotDir[] = "C:\\kelmtest\\shots\\kelmcfg98";
constexpr char kConfigPassword[] = "cfg98pw";

std::string Shot(const char* name) { return std::string(kShotDir) + "\\" + name + ".png"; }

void SetVersion98(const char* exe) {
  RegKey app;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (std::string("Software\\Wine\\AppDefaults\\") + exe).c_str(), 0,
                            nullptr, 0, KEY_SET_VALUE, nullptr, app.put(), nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(app.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("win98"), 6);
}

// KelmCtl.exe from the bin folder, its own process.
class KelmCtl {
 public:
  bool Start() {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string cmd = "\"" + BinDir() + "\\KelmCtl.exe\"";
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, BinDir().c_str(), &si, &pi))
      return false;
    process_.reset(pi.hProcess);
    CloseHandle(pi.hThread);
    return Poll([] { return FindWindowA(nullptr, "KelmMonitor") != nullptr; }, 10000);
  }
  void Close() {
    if (!process_) return;
    PostMessageA(FindWindowA(nullptr, "KelmMonitor"), WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0) TerminateProcess(process_.get(), 1);
    process_.reset();
  }
  ~KelmCtl() { Close(); }

 private:
  UniqueHandle process_;
};

class KelmCfg98 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CreateDirectoryA("C:\\kelmtest\\shots", nullptr);
    CreateDirectoryA(kShotDir, nullptr);
    SetVersion98("KelmCtl.exe");
    SetVersion98("KelmCfg.exe");
    kelm::win::DeleteUser("1234");
    SaveImages("1234", {0, 1}, 2);
    ASSERT_NO_FATAL_FAILURE(PrepareTrayFolder(6));
    ASSERT_EQ(kelm::win::SaveConfigPassword(kConfigPassword), kelm::win::SavePasswordResult::Ok);
  }
  static void TearDownTestSuite() {
    kelm::win::DeleteUser("1234");
    ClearInstallMarks();
  }
  virtual const char* InstallType() const { return "RFKEY"; }
  void SetUp() override {
    SetRootText("INSTALLTYPE", InstallType());
    SetRootText("configed", "yes");
    ASSERT_EQ(Kelmsim("install win98").code, 0u);
    ASSERT_TRUE(ctl_.Start()) << "KelmCtl did not start";
    ASSERT_TRUE(tray_.Start()) << "KelmCfg did not start";
  }
  void TearDown() override {
    for (const TopWindow& w : ProcessWindows(tray_.pid()))
      if (w.visible && w.caption != kMainCaption) PostMessageA(w.hwnd, WM_COMMAND, IDCANCEL, 0);
    tray_.Close();
    ctl_.Close();
    Kelmsim("fail none", true);
    Kelmsim("uninstall", true);
  }
  std::string Answer(const char* caption, int button = IDOK) {
    HWND box = WaitVisibleWindow(tray_.pid(), caption, 8000);
    if (!box) return std::string("<no ") + caption + " box>";
    const std::string text = ControlText(box, 0xFFFF);
    PostMessageA(box, WM_COMMAND, button, 0);
    Poll([&] { return !IsWindow(box); }, 3000);
    return text;
  }

  KelmCtl ctl_;
  TrayProgram tray_;
};

TEST_F(KelmCfg98, KeyMountsLettersArriveWarningAnswered) {
  Sim("key 1234");
  ASSERT_TRUE(Poll([] { return Look().slots.substr(0, 2).find('-') == std::string::npos; }, 10000))
      << Look().slots;
  const std::string slots = Look().slots;
  // GETSTATE as a message every 3 s; KelmCtl's notices bring the letters.
  EXPECT_TRUE(tray_.WaitLetters(slots)) << tray_.Letters() << " vs " << slots;
  const int cell = tray::FindIconByTip("Umbrel", 3000);
  ASSERT_GE(cell, 0);
  EXPECT_EQ(tray::WaitTip(cell, "Umbrel Hard Disk (Running)"), "Umbrel Hard Disk (Running)");
  RECT bar{};
  GetWindowRect(tray::Taskbar(), &bar);
  RECT area{bar.right - 420, bar.top - 90, bar.right, bar.bottom};
  EXPECT_TRUE(SaveScreenPng(Shot("01-tray-running"), &area));

  // The key away: KelmCtl's KEYLOST brings the warning; its return is told.
  Sim("key none");
  HWND warning = WaitVisibleWindow(tray_.pid(), "Warning", 10000);
  ASSERT_TRUE(warning) << "no warning";
  ASSERT_TRUE(Poll([&] { return ProgressPosition(GetDlgItem(warning, 1015)) >= 2; }, 5000));
  EXPECT_TRUE(SaveScreenPng(Shot("02-warning")));
  Sim("key 1234");
  EXPECT_TRUE(Poll([&] { return !IsWindowVisible(warning); }, 4000)) << "KEYBACK did not end the warning";
  EXPECT_EQ(Look().slots, slots);
  // Away again, and the countdown runs out: KEYTIMEOUT, the disks go.
  Sim("key none");
  warning = WaitVisibleWindow(tray_.pid(), "Warning", 10000);
  ASSERT_TRUE(warning);
  EXPECT_TRUE(WaitSlots("----", 15000)) << Look().slots;
  EXPECT_FALSE(IsWindowVisible(warning));
  EXPECT_TRUE(tray_.WaitLetters("----")) << tray_.Letters();
}

TEST_F(KelmCfg98, RefusedDismountStopsTheConfiguration) {
  Sim("key 1234");
  ASSERT_TRUE(Poll([] { return Look().slots != "----" && Look().slots != "????"; }, 10000));
  Sim("fail dismount-all");
  PostMessageA(tray_.main(), WM_COMMAND, 32771, 0);
  HWND ask = WaitVisibleWindow(tray_.pid(), "Please Input your password", 8000);
  ASSERT_TRUE(ask);
  SetControlText(ask, 1112, kConfigPassword);
  PostMessageA(ask, WM_COMMAND, IDOK, 0);
  EXPECT_NE(Answer("Warning", IDYES).find("Before config"), std::string::npos);
  EXPECT_EQ(Answer("Warning"), "I Can not unmount all Umbrel hard disk. Can not config.");
  // The refusal's box was the sequence's last step: no dialog came before it.
  EXPECT_EQ(VisibleWindow(tray_.pid(), "Umbrel Hard Disk"), nullptr);
  EXPECT_EQ(Look().configuring, "yes");  // left so, as the refusal found it
  // Accepted this time: the dialog, then "no" and the disks again.
  Sim("fail none");
  PostMessageA(tray_.main(), WM_COMMAND, 32771, 0);
  ask = WaitVisibleWindow(tray_.pid(), "Please Input your password", 8000);
  ASSERT_TRUE(ask);
  SetControlText(ask, 1112, kConfigPassword);
  PostMessageA(ask, WM_COMMAND, IDOK, 0);
  Answer("Warning", IDYES);
  HWND dlg = WaitVisibleWindow(tray_.pid(), "Umbrel Hard Disk", 8000);
  ASSERT_TRUE(dlg);
  EXPECT_TRUE(WaitSlots("----")) << Look().slots;
  PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(1057, BN_CLICKED), 0);
  EXPECT_TRUE(Poll([] { return Look().configuring == "no"; }, 5000));
  EXPECT_TRUE(Poll([] { return Look().slots != "----"; }, 10000)) << "not mounted again after RELOAD";
}

class KelmCfg98Software : public KelmCfg98 {
 protected:
  const char* InstallType() const override { return "SOFTWARE"; }
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SaveSoftwareUser("1234", "pw98"));
    KelmCfg98::SetUp();
  }
};

// F12 pressed for real in another program's window (keylog's).
void PressF12In(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  const POINT o = x::DesktopOrigin();
  // The pointer comes in from elsewhere, so the window takes the focus again.
  ASSERT_TRUE(x::MoveMouse(o.x + r.right + 40, o.y + r.bottom + 40));
  ASSERT_TRUE(x::KeysAt(o.x + (r.left + r.right) / 2, o.y + (r.top + r.bottom) / 2, {"F12"}));
}

TEST_F(KelmCfg98Software, F12LogsInWithAMessage) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string cmd = "\"" + BinDir() + "\\keylog.exe\"";
  ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  UniqueHandle keylog(pi.hProcess), keylogThread(pi.hThread);
  HWND other = nullptr;
  ASSERT_TRUE(Poll(
      [&] {
        for (const TopWindow& w : ProcessWindows(pi.dwProcessId))
          if (GetWindowLongA(w.hwnd, GWL_STYLE) & WS_VISIBLE) other = w.hwnd;
        return other != nullptr;
      },
      10000));
  ASSERT_NO_FATAL_FAILURE(PressF12In(other));
  HWND dlg = WaitVisibleWindow(tray_.pid(), "Kelm Mount/Umount Control", 8000);
  ASSERT_TRUE(dlg) << "no log-in dialog after F12";
  SetControlText(dlg, 1004, "1234");
  SetControlText(dlg, 1007, "PW98");
  EXPECT_TRUE(SaveScreenPng(Shot("03-login")));
  PostMessageA(dlg, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(Poll([] { return Look().slots.substr(0, 2).find('-') == std::string::npos; }, 10000))
      << Look().slots;
  EXPECT_TRUE(Poll([] { return Look().monitor == "1234"; }, 5000));
  // The same user again, from the tray menu's log-in entry: logged out.
  PostMessageA(tray_.main(), WM_COMMAND, 13411, 0);
  dlg = WaitVisibleWindow(tray_.pid(), "Kelm Mount/Umount Control", 8000);
  ASSERT_TRUE(dlg);
  SetControlText(dlg, 1004, "1234");
  SetControlText(dlg, 1007, "pw98");
  PostMessageA(dlg, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(WaitSlots("----")) << Look().slots;
  PostMessageA(other, WM_CLOSE, 0, 0);
  WaitForSingleObject(keylog.get(), 5000);
}

}  // namespace

int main(int argc, char** argv) { return kelmtest::RunTestsOnTaskbarDesktop(argc, argv); }

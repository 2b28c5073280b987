// KelmCfg end to end: the real tray program as its own process, the real
// service under the service control manager, the stand-in drivers and
// receiver driven through kelmsim. What is checked is what a person and the
// other programs of the suite see: KelmCfg's windows and their texts, its
// answers to the shell extension's message, the service's log and what the
// disk stand-in has attached.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/storefields.h"
#include "common/win32/diskstore.h"
#include "common/win32/handles.h"
#include "kelmsim_client.h"
#include "procwindows.h"
#include "svcclient.h"
#include "trayprogram.h"
#include "tools/keylog/keylog.h"
#include "xdo.h"

using namespace kelm::test;
using kelm::win::RegKey;
using kelm::win::UniqueHandle;

namespace {

// The warning's countdown in this test's language file.
constexpr int kCountdown = 6;

// This process in the service's place on "\\.\PIPE\kelmpip": one client,
// requests collected by a thread of its own (unless told not to read, with
// no buffer for the client's writes), notices written when the test says.
class ScriptedService {
 public:
  bool Create(bool read = true) {
    pipe_.reset(CreateNamedPipeA("\\\\.\\PIPE\\kelmpip", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, read ? 1000 : 0, read ? 1000 : 0, 0,
                                 nullptr));
    connected_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!pipe_ || !connected_) return false;
    read_ = read;
    connect_ = OVERLAPPED{};
    connect_.hEvent = connected_.get();
    if (!ConnectNamedPipe(pipe_.get(), &connect_) && GetLastError() == ERROR_PIPE_CONNECTED) SetEvent(connected_.get());
    return true;
  }
  bool WaitClient(DWORD ms) {
    if (WaitForSingleObject(connected_.get(), ms) != WAIT_OBJECT_0) return false;
    if (read_) reader_.reset(CreateThread(nullptr, 0, ReadAll, this, 0, nullptr));
    return true;
  }
  bool Write(const std::string& text) {
    UniqueHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED ov{};
    ov.hEvent = done.get();
    DWORD n = 0;
    if (!WriteFile(pipe_.get(), text.data(), static_cast<DWORD>(text.size()), &n, &ov) &&
        GetLastError() != ERROR_IO_PENDING)
      return false;
    return GetOverlappedResult(pipe_.get(), &ov, &n, TRUE) && n == text.size();
  }
  std::string Received() {
    EnterCriticalSection(&lock_);
    std::string r = received_;
    LeaveCriticalSection(&lock_);
    return r;
  }
  HANDLE handle() const { return pipe_.get(); }
  ScriptedService() { InitializeCriticalSection(&lock_); }
  ~ScriptedService() {
    stop_ = true;
    if (pipe_) DisconnectNamedPipe(pipe_.get());  // ends the pending read
    if (reader_) WaitForSingleObject(reader_.get(), 5000);
    pipe_.reset();
    DeleteCriticalSection(&lock_);
  }

 private:
  static DWORD WINAPI ReadAll(LPVOID p) {
    auto* self = static_cast<ScriptedService*>(p);
    UniqueHandle ev(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    while (!self->stop_) {
      char buf[1000];
      OVERLAPPED ov{};
      ov.hEvent = ev.get();
      DWORD n = 0;
      if (!ReadFile(self->pipe_.get(), buf, sizeof buf, &n, &ov)) {
        if (GetLastError() != ERROR_IO_PENDING) break;
        if (!GetOverlappedResult(self->pipe_.get(), &ov, &n, TRUE)) break;
      }
      EnterCriticalSection(&self->lock_);
      self->received_.append(buf, n);
      LeaveCriticalSection(&self->lock_);
    }
    return 0;
  }

  UniqueHandle pipe_, connected_, reader_;
  OVERLAPPED connect_{};
  bool read_ = true;
  volatile bool stop_ = false;
  CRITICAL_SECTION lock_;
  std::string received_;
};

class KelmCfgTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Svc("-remove");
    Kelmsim("uninstall", true);
    kelm::win::DeleteUser("1234");
    kelm::win::DeleteUser("5678");
    SaveImages("1234", {0, 1}, 2);
    SaveImages("5678", {0}, 9);
    // A shorter countdown than the shipped 30 seconds.
    ASSERT_NO_FATAL_FAILURE(PrepareTrayFolder(kCountdown));
  }
  static void TearDownTestSuite() {
    kelm::win::DeleteUser("1234");
    kelm::win::DeleteUser("5678");
    ClearInstallMarks();
  }

  virtual const char* InstallType() const { return "RFKEY"; }

  void SetUp() override {
    SetRootText("INSTALLTYPE", InstallType());
    ASSERT_EQ(Kelmsim("install").code, 0u);
    // The highest letter in use decides where the disks go.
    first_ = FirstFreeLetter('C');
    StartService();
    logStart_ = ReadLog().size();
  }
  void TearDown() override {
    tray_.Close();
    Svc("-remove");
    EXPECT_EQ(AttachedCount(), 0);
    Kelmsim("uninstall", true);
  }

  std::string NewLog() const { return ReadLog().substr(logStart_); }
  // Waits until the service's log, since the test began, holds text.
  bool WaitLog(const std::string& text, DWORD ms = 10000) {
    return Poll([&] { return NewLog().find(text) != std::string::npos; }, ms);
  }
  std::string L(const char* pattern) const { return SlotLetters(first_, pattern); }
  HWND WaitWarning(DWORD ms) { return WaitVisibleWindow(tray_.pid(), "Warning", ms); }

  TrayProgram tray_;
  char first_ = 0;  // FirstFreeLetter() in SetUp
  std::size_t logStart_ = 0;
};

TEST_F(KelmCfgTest, FollowsTheKeyAndAnswersTheDriveLetters) {
  ASSERT_TRUE(tray_.Start());
  EXPECT_FALSE(IsWindowVisible(tray_.main()));
  EXPECT_EQ(tray_.Letters(), "----");
  ASSERT_TRUE(WaitLog("CMD:32774")) << "KelmCfg never polled the service";
  Sim("key 1234");
  ASSERT_TRUE(tray_.WaitLetters(L("01--"))) << tray_.Letters();
  // State 5, then the user, then the letters.
  const std::string log = NewLog();
  const std::size_t state = log.find("CMD:32775"), letters = log.find("CMD:32776");
  EXPECT_NE(state, std::string::npos);
  EXPECT_LT(state, letters);
  EXPECT_EQ(AttachedCount(), 2);
}

// A slot dismounted from its tray entry loses its letter in KelmCfg too,
// although the service reports it as CMD:0:9 (value 0).
TEST_F(KelmCfgTest, SlotZeroDismountedFromItsEntryClearsItsLetter) {
  ASSERT_TRUE(tray_.Start());
  Sim("key 1234");
  ASSERT_TRUE(tray_.WaitLetters(L("01--"))) << tray_.Letters();
  PostMessageA(tray_.main(), WM_COMMAND, 0x7000, 0);
  ASSERT_TRUE(WaitLog("CMD:32777:0"));
  ASSERT_TRUE(Poll([] { return AttachedCount() == 1; }, 8000));
  EXPECT_TRUE(tray_.WaitLetters(std::string("-") + L("1") + "--", 8000)) << tray_.Letters();
  // And back: the same entry mounts it again, under the next free letter.
  PostMessageA(tray_.main(), WM_COMMAND, 0x7000, 0);
  ASSERT_TRUE(Poll([] { return AttachedCount() == 2; }, 8000));
  EXPECT_TRUE(tray_.WaitLetters(L("21--"), 8000)) << tray_.Letters();
}

TEST_F(KelmCfgTest, KeyLossWarningKeyBackThenTimeout) {
  ASSERT_TRUE(tray_.Start());
  Sim("key 1234");
  ASSERT_TRUE(tray_.WaitLetters(L("01--"))) << tray_.Letters();
  Sim("key none");
  HWND warning = WaitWarning(10000);
  ASSERT_TRUE(warning) << "no warning after the key went away";
  EXPECT_EQ(ControlText(warning, 1012), "Because you power off your RF-KEY sender.All");
  EXPECT_EQ(ControlText(warning, 1013), "the virtual hard disks mounted will be unmount");
  EXPECT_EQ(ControlText(warning, 1014), "in 30 seconeds,Please try to save your datas.");
  EXPECT_TRUE(GetWindowLongA(warning, GWL_EXSTYLE) & WS_EX_TOPMOST);
  const HWND bar = GetDlgItem(warning, 1015);
  ASSERT_TRUE(Poll([&] { return ProgressPosition(bar) >= 2; }, 5000)) << ProgressPosition(bar);
  // Escape, Enter and Alt+F4 do not close it.
  for (WPARAM key : {WPARAM(VK_ESCAPE), WPARAM(VK_RETURN)}) {
    PostMessageA(warning, WM_KEYDOWN, key, 0);
    PostMessageA(warning, WM_KEYUP, key, 0);
  }
  PostMessageA(warning, WM_SYSKEYDOWN, VK_F4, 1u << 29);
  PostMessageA(warning, WM_CLOSE, 0, 0);
  PostMessageA(warning, WM_COMMAND, IDCANCEL, 0);
  // The next tick of the bar comes after those messages: still shown then.
  const int at = ProgressPosition(bar);
  ASSERT_TRUE(Poll([&] { return ProgressPosition(bar) > at; }, 3000)) << "the warning stopped ticking";
  EXPECT_TRUE(IsWindowVisible(warning)) << "the warning was closed by a key";
  // The key comes back: KEYBACK, the window goes, the disks stay.
  Sim("key 1234");
  ASSERT_TRUE(WaitLog("CMD:32773", 4000)) << "no KEYBACK";
  EXPECT_TRUE(Poll([&] { return !IsWindowVisible(warning); }, 2000));
  EXPECT_EQ(AttachedCount(), 2);
  EXPECT_EQ(tray_.Letters(), L("01--"));
  // Gone again, and this time the countdown runs out: KEYTIMEOUT dismounts.
  Sim("key none");
  warning = WaitWarning(10000);
  ASSERT_TRUE(warning) << "no second warning";
  const DWORD shown = GetTickCount();
  ASSERT_TRUE(WaitLog("CMD:32772", (kCountdown + 6) * 1000)) << "no KEYTIMEOUT";
  // The bar fills once a second and the tick after the full bar ends it.
  EXPECT_GE(GetTickCount() - shown, static_cast<DWORD>(kCountdown * 1000 - 500));
  EXPECT_TRUE(Poll([&] { return !IsWindowVisible(warning); }, 2000));
  ASSERT_TRUE(Poll([] { return AttachedCount() == 0; }, 8000));
  EXPECT_TRUE(tray_.WaitLetters("----", 8000)) << tray_.Letters();
}

TEST_F(KelmCfgTest, UnpluggedReceiverEndsTheWarningAtOnce) {
  ASSERT_TRUE(tray_.Start());
  Sim("key 1234");
  ASSERT_TRUE(tray_.WaitLetters(L("01--"))) << tray_.Letters();
  Sim("key none");
  HWND warning = WaitWarning(10000);
  ASSERT_TRUE(warning);
  const std::size_t before = NewLog().size();
  Sim("receiver unplug");
  EXPECT_TRUE(Poll([&] { return NewLog().find("CMD:32772", before) != std::string::npos; }, 3000))
      << "no KEYTIMEOUT within a tick of the unplug";
  EXPECT_TRUE(Poll([&] { return !IsWindowVisible(warning); }, 2000));
  EXPECT_TRUE(Poll([] { return AttachedCount() == 0; }, 5000));
  Sim("receiver plug");
}

// The service reports a loss only once per warning; a second notice is
// played here by this process in the service's place, on the real pipe.
TEST_F(KelmCfgTest, SecondNoticeReplacesTheWarning) {
  Svc("-remove");
  ScriptedService service;
  ASSERT_TRUE(service.Create());
  ASSERT_TRUE(tray_.Start());
  ASSERT_TRUE(service.WaitClient(8000)) << "KelmCfg did not connect";
  ASSERT_TRUE(service.Write("CMD:1234:1\r"));
  HWND first = WaitWarning(5000);
  ASSERT_TRUE(first);
  ASSERT_TRUE(Poll([&] { return ProgressPosition(GetDlgItem(first, 1015)) >= 2; }, 5000));
  ASSERT_TRUE(service.Write("CMD:1234:1\r"));
  // The first window is destroyed without a word; the new one starts empty.
  EXPECT_TRUE(Poll([&] { return !IsWindow(first); }, 3000));
  HWND second = WaitWarning(3000);
  ASSERT_TRUE(second);
  EXPECT_LE(ProgressPosition(GetDlgItem(second, 1015)), 1);
  int warnings = 0;
  for (const TopWindow& w : ProcessWindows(tray_.pid()))
    if (w.visible && w.caption == "Warning") ++warnings;
  EXPECT_EQ(warnings, 1);
  // Nothing was sent for the replaced one: the first request is the
  // time-out of the second (the receiver hears no key).
  ASSERT_TRUE(Poll([&] { return service.Received().find("CMD:32772") != std::string::npos; },
                   (kCountdown + 4) * 1000))
      << service.Received();
  const std::string got = service.Received();
  EXPECT_EQ(got.find("CMD:32773"), std::string::npos) << got;
  EXPECT_EQ(got.find("CMD:32772"), got.rfind("CMD:32772")) << got;
}

TEST_F(KelmCfgTest, ServiceRestartIsFollowed) {
  ASSERT_TRUE(tray_.Start());
  Sim("key 1234");
  ASSERT_TRUE(tray_.WaitLetters(L("01--"))) << tray_.Letters();
  {
    ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScHandle s(OpenServiceA(scm.get(), "KelmSvr", SERVICE_ALL_ACCESS));
    SERVICE_STATUS st{};
    ASSERT_TRUE(ControlService(s.get(), SERVICE_CONTROL_STOP, &st));
  }
  ASSERT_TRUE(Poll(
      [] {
        SERVICE_STATUS st{};
        return QueryState(st) && st.dwCurrentState == SERVICE_STOPPED;
      },
      10000));
  // The pipe broke: nothing is known to be mounted any more.
  EXPECT_TRUE(tray_.WaitLetters("----", 3000)) << tray_.Letters();
  const std::size_t before = ReadLog().size();
  StartService();
  const DWORD started = GetTickCount();
  ASSERT_TRUE(Poll([&] { return ReadLog().find("CMD:32774", before) != std::string::npos; }, 8000))
      << "KelmCfg did not come back to the service";
  EXPECT_LE(GetTickCount() - started, 6000u);
  EXPECT_TRUE(tray_.WaitLetters(L("01--"))) << tray_.Letters();
}

TEST_F(KelmCfgTest, SecondCopyEndsSilently) {
  ASSERT_TRUE(tray_.Start());
  TrayProgram second;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string cmd = std::string("\"") + kCfgDir + "\\KelmCfg.exe\"";
  ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, kCfgDir, &si, &pi));
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  const DWORD start = GetTickCount();
  bool sawVisible = false;
  while (WaitForSingleObject(process.get(), 50) == WAIT_TIMEOUT && GetTickCount() - start < 10000)
    for (const TopWindow& w : ProcessWindows(pi.dwProcessId)) sawVisible = sawVisible || w.visible;
  const DWORD took = GetTickCount() - start;
  ASSERT_EQ(WaitForSingleObject(process.get(), 0), WAIT_OBJECT_0) << "the second copy kept running";
  EXPECT_GE(took, 2500u);
  EXPECT_LE(took, 6000u);
  EXPECT_FALSE(sawVisible);
  DWORD code = 1;
  GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 0u);
  // The first copy carries on.
  EXPECT_EQ(tray_.Letters(), "----");
  Sim("key 1234");
  EXPECT_TRUE(tray_.WaitLetters(L("01--"))) << tray_.Letters();
}

// UnInst starts kelmuinst.exe from KelmCfg's own folder (here a recorder
// in its place); without it nothing is shown and KelmCfg carries on.
TEST_F(KelmCfgTest, UnInstStartsTheUninstallerBesideIt) {
  const std::string uninst = std::string(kCfgDir) + "\\kelmuinst.exe";
  const std::string opened = std::string(kCfgDir) + "\\opened.txt";
  ASSERT_TRUE(CopyFileA((BinDir() + "\\openrecv.exe").c_str(), uninst.c_str(), FALSE));
  DeleteFileA(opened.c_str());
  ASSERT_TRUE(tray_.Start());
  PostMessageA(tray_.main(), WM_COMMAND, 32772, 0);
  std::string got;
  EXPECT_TRUE(Poll(
      [&] {
        std::ifstream f(opened);
        std::getline(f, got);
        return !got.empty();
      },
      8000));
  EXPECT_NE(got.find(uninst), std::string::npos) << got;
  DeleteFileA(uninst.c_str());
  PostMessageA(tray_.main(), WM_COMMAND, 32772, 0);
  PostMessageA(tray_.main(), WM_COMMAND, 32773, 0);
  EXPECT_EQ(tray_.Letters(), "----");  // still answering
  for (const TopWindow& w : ProcessWindows(tray_.pid())) EXPECT_FALSE(w.visible) << w.caption;
}

TEST_F(KelmCfgTest, LeftoverRegistryTestKeyIsRemoved) {
  RegKey left;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KelmdbgInfo", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            left.put(), nullptr),
            ERROR_SUCCESS);
  left.reset();
  ASSERT_TRUE(tray_.Start());
  ASSERT_TRUE(WaitLog("CMD:32774")) << "KelmCfg did not get past its start";
  RegKey probe;
  EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KelmdbgInfo", 0, KEY_READ, probe.put()), ERROR_SUCCESS);
}

// The service stops reading: a request write never completes. KelmCfg must
// not hang with it, nor anyone who sends it a message.
TEST_F(KelmCfgTest, ServiceThatStopsReadingDoesNotFreezeTheTray) {
  Svc("-remove");
  // This process plays a service that accepts and never reads, with no
  // buffer for the client's writes.
  ScriptedService service;
  ASSERT_TRUE(service.Create(false));
  ASSERT_TRUE(tray_.Start());
  ASSERT_TRUE(service.WaitClient(8000)) << "KelmCfg did not connect";
  // Fill whatever the pipe holds, so KelmCfg's next request must wait.
  const DWORD start = GetTickCount();
  int unanswered = 0;
  bool answeredAgain = false;
  while (GetTickCount() - start < 30000) {
    DWORD_PTR r = 0;
    const bool answered =
        SendMessageTimeoutA(tray_.main(), kMsgDriveLetters, 0, 0, SMTO_ABORTIFHUNG, 1000, &r) != 0;
    if (!answered) ++unanswered;
    if (answered && unanswered > 0) {
      answeredAgain = true;
      break;
    }
    Sleep(200);
  }
  // Either Wine let every write through (nothing to prove) or the tray
  // answered again once the bound ran out.
  if (unanswered == 0) GTEST_SKIP() << "the pipe took every write; the bound never came into play";
  EXPECT_TRUE(answeredAgain) << "KelmCfg stayed frozen";
  // It gave the connection up: the server end sees it gone.
  DWORD avail = 0;
  EXPECT_TRUE(Poll([&] { return !PeekNamedPipe(service.handle(), nullptr, 0, nullptr, &avail, nullptr); }, 15000));
}

}  // namespace

namespace {

constexpr char kLoginCaption[] = "Kelm Mount/Umount Control";
constexpr int kIdEdit = 1004, kPassEdit = 1007;

// keylog.exe: another program's window that the F12 key is pressed in.
class KeyLog {
 public:
  bool Start() {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string cmd = "\"" + BinDir() + "\\keylog.exe\" --watch kelmhkey.dll";
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    process_.reset(pi.hProcess);
    CloseHandle(pi.hThread);
    // This copy's window, shown, and backed by an X window that xdotool can focus.
    return Poll(
        [&] {
          window_ = nullptr;
          for (const TopWindow& w : ProcessWindows(pi.dwProcessId))
            if (w.visible && !kelmtest::XWindow(w.hwnd).empty()) window_ = w.hwnd;
          return window_ != nullptr;
        },
        10000);
  }
  HWND window() const { return window_; }
  long Ask(UINT query, WPARAM wp = 0) const {
    DWORD_PTR r = 0;
    SendMessageTimeoutA(window_, query, wp, 0, SMTO_ABORTIFHUNG, 3000, &r);
    return static_cast<long>(r);
  }
  ~KeyLog() {
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    if (process_ && WaitForSingleObject(process_.get(), 5000) != WAIT_OBJECT_0) TerminateProcess(process_.get(), 1);
  }

 private:
  UniqueHandle process_;
  HWND window_ = nullptr;
};

class KelmCfgSoftware : public KelmCfgTest {
 protected:
  const char* InstallType() const override { return "SOFTWARE"; }
  void SetUp() override {
    SetRootText("configed", "yes");
    ASSERT_NO_FATAL_FAILURE(SaveSoftwareUser("1234", "Secret1"));
    KelmCfgTest::SetUp();
    ASSERT_TRUE(keylog_.Start());
  }
  void TearDown() override {
    for (const TopWindow& w : ProcessWindows(tray_.pid()))
      if (w.visible && w.caption != kMainCaption) PostMessageA(w.hwnd, WM_COMMAND, IDCANCEL, 0);
    KelmCfgTest::TearDown();
  }
  // F12 pressed for real in keylog's window. The log-in dialog comes up on
  // the press and takes the focus, so the press is what keylog counts.
  void PressF12() {
    const long before = keylog_.Ask(keylog::kDowns, VK_F12);
    ASSERT_TRUE(kelmtest::XFocus(keylog_.window())) << "cannot focus keylog";
    std::string out;
    ASSERT_TRUE(kelmtest::Xdo("key --delay 20 F12", &out)) << out;
    ASSERT_TRUE(Poll([&] { return keylog_.Ask(keylog::kDowns, VK_F12) > before; }, 5000)) << "F12 did not arrive";
  }
  int LoginDialogs() const {
    int n = 0;
    for (const TopWindow& w : ProcessWindows(tray_.pid()))
      if (w.visible && w.caption == kLoginCaption) ++n;
    return n;
  }
  // Types into the log-in dialog the way a person does and presses Enter:
  // it came up in front with the focus in the id field.
  void TypeLogin(HWND dlg, const std::string& id, const std::string& password) {
    ASSERT_TRUE(Poll([&] { return GetForegroundWindow() == dlg; }, 3000)) << "the dialog is not in front";
    HWND idEdit = GetDlgItem(dlg, kIdEdit);
    ASSERT_TRUE(Poll(
        [&] {
          GUITHREADINFO gti{};
          gti.cbSize = sizeof gti;
          return GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &gti) && gti.hwndFocus == idEdit;
        },
        3000))
        << "the focus is not in the id field";
    // Wine's foreground is not X's input focus, which decides where typed
    // keys go: a click into the field that already has the focus makes
    // them the same without changing the dialog.
    RECT r{};
    ASSERT_TRUE(GetWindowRect(idEdit, &r));
    POINT mid{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ASSERT_TRUE(ScreenToClient(dlg, &mid));
    ASSERT_TRUE(kelmtest::XFocus(dlg, mid.x, mid.y)) << "cannot focus the dialog";
    std::string out;
    ASSERT_TRUE(kelmtest::Xdo("type --delay 30 '" + id + "'", &out)) << out;
    ASSERT_TRUE(kelmtest::Xdo("key --delay 30 Tab", &out)) << out;
    ASSERT_TRUE(kelmtest::Xdo("type --delay 30 '" + password + "'", &out)) << out;
    ASSERT_TRUE(Poll([&] { return ControlText(dlg, kIdEdit) == id && ControlText(dlg, kPassEdit) == password; },
                     3000))
        << "typed '" << ControlText(dlg, kIdEdit) << "' / '" << ControlText(dlg, kPassEdit) << "'";
    ASSERT_TRUE(kelmtest::Xdo("key --delay 30 Return", &out)) << out;
  }
  KeyLog keylog_;
};

TEST_F(KelmCfgSoftware, F12LogsInAndTheSameUserAgainLogsOut) {
  ASSERT_TRUE(tray_.Start());
  ASSERT_TRUE(WaitLog("CMD:32774")) << "KelmCfg did not start";
  ASSERT_NO_FATAL_FAILURE(PressF12());
  HWND dlg = WaitVisibleWindow(tray_.pid(), kLoginCaption, 8000);
  ASSERT_TRUE(dlg) << "no log-in dialog after F12";
  EXPECT_EQ(ControlText(dlg, 1002), "Please input your UserID and password:");
  EXPECT_EQ(ControlText(dlg, 1003), "User ID:");
  EXPECT_EQ(ControlText(dlg, 1006), "Password:");
  EXPECT_EQ(ControlText(dlg, IDOK), "Ok");
  // The key itself still reached the program it was pressed in.
  EXPECT_GE(keylog_.Ask(keylog::kDowns, VK_F12), 1);
  // Pressed again, now in the dialog itself, then a digit: once the digit
  // is in the field, the hot-key messages posted before it have been
  // handled. Still one dialog.
  std::string out;
  ASSERT_TRUE(kelmtest::Xdo("key --delay 20 F12 9", &out)) << out;
  ASSERT_TRUE(Poll([&] { return ControlText(dlg, kIdEdit) == "9"; }, 5000)) << ControlText(dlg, kIdEdit);
  EXPECT_EQ(LoginDialogs(), 1);
  ASSERT_TRUE(kelmtest::Xdo("key --delay 20 BackSpace", &out)) << out;
  ASSERT_TRUE(Poll([&] { return ControlText(dlg, kIdEdit).empty(); }, 5000));
  // The password in other letters than it was stored in.
  ASSERT_NO_FATAL_FAILURE(TypeLogin(dlg, "1234", "sECRET1"));
  ASSERT_TRUE(WaitLog("CMD:34816:1234", 8000)) << "no SETUSER";
  EXPECT_TRUE(Poll([&] { return !IsWindow(dlg); }, 3000));
  ASSERT_TRUE(Poll([] { return AttachedCount() == 2; }, 8000)) << NewLog();
  EXPECT_TRUE(tray_.WaitLetters(L("01--"))) << tray_.Letters();
  // The same user again: logged out, the disk goes.
  const std::size_t before = NewLog().size();
  ASSERT_NO_FATAL_FAILURE(PressF12());
  dlg = WaitVisibleWindow(tray_.pid(), kLoginCaption, 8000);
  ASSERT_TRUE(dlg);
  ASSERT_NO_FATAL_FAILURE(TypeLogin(dlg, "1234", "Secret1"));
  ASSERT_TRUE(Poll([&] { return NewLog().find("CMD:34816:1234", before) != std::string::npos; }, 8000));
  EXPECT_TRUE(Poll([] { return AttachedCount() == 0; }, 8000));
  EXPECT_TRUE(tray_.WaitLetters("----")) << tray_.Letters();
}

TEST_F(KelmCfgSoftware, WrongPasswordIsRefused) {
  ASSERT_TRUE(tray_.Start());
  ASSERT_TRUE(WaitLog("CMD:32774"));
  ASSERT_NO_FATAL_FAILURE(PressF12());
  HWND dlg = WaitVisibleWindow(tray_.pid(), kLoginCaption, 8000);
  ASSERT_TRUE(dlg);
  ASSERT_NO_FATAL_FAILURE(TypeLogin(dlg, "1234", "Secret2"));
  HWND box = WaitVisibleWindow(tray_.pid(), "Error", 8000);
  ASSERT_TRUE(box) << "no error box";
  EXPECT_EQ(ControlText(box, 0xFFFF), "UserId or password error.");
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(Poll([&] { return !IsWindow(box); }, 3000));
  EXPECT_EQ(NewLog().find("CMD:34816"), std::string::npos);
  // A user without a key in the store is refused the same way.
  ASSERT_NO_FATAL_FAILURE(PressF12());
  dlg = WaitVisibleWindow(tray_.pid(), kLoginCaption, 8000);
  ASSERT_TRUE(dlg);
  ASSERT_NO_FATAL_FAILURE(TypeLogin(dlg, "4321", "Secret1"));
  box = WaitVisibleWindow(tray_.pid(), "Error", 8000);
  ASSERT_TRUE(box);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(NewLog().find("CMD:34816"), std::string::npos);
  EXPECT_EQ(AttachedCount(), 0);
}

// The field rules keep the dialog open with a prompt; the log-in entry of
// the tray menu opens the same dialog as the hot key.
TEST_F(KelmCfgSoftware, FieldRulesKeepTheDialogOpen) {
  ASSERT_TRUE(tray_.Start());
  ASSERT_TRUE(WaitLog("CMD:32774"));
  PostMessageA(tray_.main(), WM_COMMAND, 13411, 0);
  HWND dlg = WaitVisibleWindow(tray_.pid(), kLoginCaption, 8000);
  ASSERT_TRUE(dlg);
  struct Case {
    const char* id;
    const char* password;
    const char* prompt;
  } cases[] = {
      {"12345", "x", "The MAX length of UserId is 4 character."},
      {"0123", "x", "First char of userid should not be zero!"},
      {"1234", "", "Please input the userid and password!"},
      {"", "x", "Please input the userid and password!"},
  };
  for (const Case& c : cases) {
    SetControlText(dlg, kIdEdit, c.id);
    SetControlText(dlg, kPassEdit, c.password);
    PostMessageA(dlg, WM_COMMAND, IDOK, 0);
    HWND box = WaitVisibleWindow(tray_.pid(), "Prompt", 5000);
    ASSERT_TRUE(box) << c.id;
    EXPECT_EQ(ControlText(box, 0xFFFF), c.prompt) << c.id;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(Poll([&] { return !IsWindow(box); }, 3000));
    EXPECT_TRUE(IsWindowVisible(dlg)) << c.id;
  }
  // More than 9 typed characters: only 9 are read, so this one is refused.
  SetControlText(dlg, kIdEdit, "1234");
  SetControlText(dlg, kPassEdit, "Secret1xyz");
  PostMessageA(dlg, WM_COMMAND, IDOK, 0);
  HWND box = WaitVisibleWindow(tray_.pid(), "Error", 5000);
  ASSERT_TRUE(box);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(NewLog().find("CMD:34816"), std::string::npos);
}

TEST_F(KelmCfgTest, RfKeyInstallationHasNoHotKey) {
  KeyLog keylog;
  ASSERT_TRUE(keylog.Start());
  ASSERT_TRUE(tray_.Start());
  ASSERT_TRUE(WaitLog("CMD:32774"));
  ASSERT_TRUE(kelmtest::XFocus(keylog.window()));
  ASSERT_TRUE(kelmtest::Xdo("key --delay 20 F12"));
  ASSERT_TRUE(Poll([&] { return keylog.Ask(keylog::kUps, VK_F12) >= 1; }, 5000));
  // No hook library came with the key, and no dialog opened.
  EXPECT_EQ(keylog.Ask(keylog::kLookups), -1);
  EXPECT_EQ(VisibleWindow(tray_.pid(), kLoginCaption), nullptr);
}

}  // namespace

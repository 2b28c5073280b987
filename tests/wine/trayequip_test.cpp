// The tray test equipment on a real tray program (kelmtraysample.exe, its
// own process) on Wine's desktop with a taskbar: real input through
// xdotool, the icon found and clicked, its tip read, its picture told
// apart, its pop-up menu read from inside the owner and an item chosen with
// real clicks and keys, and screenshots written (C:\kelmtest\shots\trayequip).
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/win32/handles.h"
#include "menuspy.h"
#include "screenshot.h"
#include "shelldesktop.h"
#include "taskbarmain.h"
#include "tray.h"
#include "xinput.h"

namespace {

using kelm::win::UniqueHandle;
using namespace kelmtest;

constexpr char kShots[] = "C:\\kelmtest\\shots";
constexpr char kShotDir[] = "C:\\kelmtest\\shots\\trayequip";

std::string Shot(const std::string& name) { return std::string(kShotDir) + "\\" + name + ".png"; }

std::string ReadAll(const std::string& path) { return x::ReadShared(path); }

// The sample program and its log, for the whole suite.
struct Sample {
  std::string log;
  UniqueHandle process;
  HWND window = nullptr;
  DWORD thread = 0;
  int cell = -1;
};
Sample* g_sample = nullptr;

bool WaitLogLine(const std::string& line, DWORD ms = 10000) {
  const DWORD start = GetTickCount();
  for (;;) {
    std::istringstream in(ReadAll(g_sample->log));
    std::string l;
    while (std::getline(in, l)) {
      if (!l.empty() && l.back() == '\r') l.pop_back();
      if (l == line) return true;
    }
    if (GetTickCount() - start >= ms) return false;
    Sleep(20);
  }
}

int CountLogLines(const std::string& line) {
  std::istringstream in(ReadAll(g_sample->log));
  std::string l;
  int n = 0;
  while (std::getline(in, l)) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    n += l == line;
  }
  return n;
}

std::vector<std::string> Labels(const std::vector<MenuItem>& items) {
  std::vector<std::string> out;
  for (const auto& i : items) out.push_back(i.separator ? "-" : i.Label());
  return out;
}

class TrayEquipment : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CreateDirectoryA(kShots, nullptr);
    CreateDirectoryA(kShotDir, nullptr);
    g_sample = new Sample;
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    g_sample->log = std::string(tmp) + "kelmtraysample.log";
    DeleteFileA(g_sample->log.c_str());
    std::string cmd = "\"" + ExeDir() + "\\kelmtraysample.exe\" \"" + g_sample->log + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
    g_sample->process.reset(pi.hProcess);
    CloseHandle(pi.hThread);
    if (!WaitLogLine("started")) return;
    g_sample->window = FindWindowA("KelmTraySample", "Tray Sample");
    if (g_sample->window) g_sample->thread = GetWindowThreadProcessId(g_sample->window, nullptr);
  }
  static void TearDownTestSuite() {
    if (g_sample->window) {
      MenuSpy::Close(g_sample->window);  // a failed step may have left the menu open
      PostMessageA(g_sample->window, WM_CLOSE, 0, 0);
    }
    if (g_sample->process && WaitForSingleObject(g_sample->process.get(), 10000) != WAIT_OBJECT_0)
      TerminateProcess(g_sample->process.get(), 1);
    delete g_sample;
    g_sample = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(g_sample->window) << "the sample did not start: " << ReadAll(g_sample->log);
  }
  // The sample's cell, found once by its tip.
  static int Cell() {
    if (g_sample->cell < 0) g_sample->cell = tray::FindIconByTip("Sample (");
    return g_sample->cell;
  }
};

TEST_F(TrayEquipment, XdotoolRunsFromInsideWine) {
  const x::Result where = x::Xdotool({"getmouselocation"});
  EXPECT_TRUE(where.ok()) << where.out;
  EXPECT_NE(where.out.find("x:"), std::string::npos) << where.out;
  const x::Result bad = x::Xdotool({"no-such-command"});
  EXPECT_TRUE(bad.finished);
  EXPECT_NE(bad.code, 0);
  // The pointer goes where it is sent, in this desktop's coordinates.
  ASSERT_TRUE(x::MoveMouse(123, 234));
  POINT p{};
  const DWORD start = GetTickCount();
  while (GetCursorPos(&p) && (p.x != 123 || p.y != 234) && GetTickCount() - start < 5000) Sleep(20);
  EXPECT_EQ(p.x, 123);
  EXPECT_EQ(p.y, 234);
}

TEST_F(TrayEquipment, ScreenshotShowsTheDesktopAndTheTaskbar) {
  EXPECT_NE(ThreadDesktopName(), "Default");  // a virtual desktop of its own
  HWND bar = tray::Taskbar();
  ASSERT_TRUE(bar);
  const Image screen = CaptureScreen();
  ASSERT_EQ(screen.width, GetSystemMetrics(SM_CXSCREEN));
  ASSERT_EQ(screen.height, GetSystemMetrics(SM_CYSCREEN));
  // The taskbar (explorer's window) has its own colour below the desktop's.
  RECT r;
  GetWindowRect(bar, &r);
  EXPECT_NE(screen.at(r.right / 2, r.top + 2), screen.at(r.right / 2, r.top / 2));
  ASSERT_TRUE(SavePng(screen, Shot("01-desktop")));
  const std::string png = ReadAll(Shot("01-desktop"));
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  ASSERT_TRUE(SaveScreenPng(Shot("02-tray"), &r));
}

TEST_F(TrayEquipment, IconFoundByTipAndTellsItsPicture) {
  ASSERT_GE(tray::IconCount(), 1);
  const int cell = Cell();
  ASSERT_GE(cell, 0) << "no tray icon with the sample's tip";
  HWND tip = nullptr;
  EXPECT_EQ(tray::ReadTip(cell, 8000, &tip), "Sample (Ready)");
  ASSERT_TRUE(tip);
  // The tip is on the screen, near the icon.
  RECT tr, cr = tray::CellRect(cell);
  GetWindowRect(tip, &tr);
  EXPECT_LT(abs((tr.top + tr.bottom) / 2 - (cr.top + cr.bottom) / 2), 100);
  RECT around{cr.left - 300, cr.top - 60, cr.right, cr.bottom};
  EXPECT_TRUE(SaveScreenPng(Shot("03-tip-ready"), &around));

  HICON ready = LoadIconA(nullptr, IDI_INFORMATION), running = LoadIconA(nullptr, IDI_WARNING);
  EXPECT_EQ(tray::IconDistance(cell, ready), 0);
  EXPECT_GT(tray::IconDistance(cell, running), 20);
  EXPECT_FALSE(tray::CellBlank(cell));
  EXPECT_NE(tray::Fingerprint(tray::CellImage(cell)), tray::Fingerprint(tray::RenderIcon(running, RGB(255, 255, 255))));

  // A program's own icon at the tray's size, from its file.
  HICON fromFile = tray::LoadIconFromFile("user32.dll", 32516);
  ASSERT_TRUE(fromFile);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(fromFile, &info));
  BITMAP bm{};
  GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
  EXPECT_EQ(bm.bmWidth, GetSystemMetrics(SM_CXSMICON));
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  DestroyIcon(fromFile);
}

TEST_F(TrayEquipment, MenuReadChosenWithRealClicksAndSeenByTheProgram) {
  const int cell = Cell();
  ASSERT_GE(cell, 0);
  MenuSpy spy(g_sample->thread);
  ASSERT_TRUE(spy.ok());
  ASSERT_TRUE(tray::ClickIcon(cell));
  ASSERT_TRUE(WaitLogLine("click"));
  const auto items = spy.WaitMenu(10000);
  ASSERT_EQ(Labels(items),
            (std::vector<std::string>{"Running", "-", "Toggle state", "Enter name...", "Disabled item", "Exit"}));
  EXPECT_EQ(items[0].id, 101u);
  EXPECT_FALSE(items[0].checked);
  EXPECT_TRUE(items[1].separator);
  EXPECT_EQ(items[2].id, 102u);
  EXPECT_TRUE(items[2].isDefault);
  EXPECT_EQ(items[2].text, "&Toggle state");
  EXPECT_EQ(items[3].id, 105u);
  EXPECT_TRUE(items[4].grayed);
  EXPECT_FALSE(items[5].grayed);
  EXPECT_EQ(items[5].id, 104u);

  // Another process's menu is on the screen, where its items say.
  RECT menu = items[0].rect;
  menu.bottom = items[5].rect.bottom;
  const Image shown = CaptureScreen(&menu);
  ASSERT_FALSE(shown.empty());
  int unlike = 0;
  for (auto p : shown.px) unlike += p != shown.px[0];
  EXPECT_GT(unlike, 50) << "the menu's text should be in the picture";
  EXPECT_TRUE(SaveScreenPng(Shot("04-menu-open")));

  ASSERT_TRUE(MenuSpy::ChooseByClick(items[2]));
  EXPECT_TRUE(WaitLogLine("command 102"));
  EXPECT_TRUE(WaitLogLine("state Running"));
  EXPECT_TRUE(spy.WaitClosed(5000));
}

TEST_F(TrayEquipment, StateChangeSeenInTheIconTheTipAndTheMenu) {
  const int cell = Cell();
  ASSERT_GE(cell, 0);
  ASSERT_TRUE(WaitLogLine("state Running"));
  HICON running = LoadIconA(nullptr, IDI_WARNING);
  EXPECT_TRUE(tray::WaitIcon(cell, running, 5000));
  EXPECT_GT(tray::IconDistance(cell, LoadIconA(nullptr, IDI_INFORMATION)), 20);
  EXPECT_EQ(tray::WaitTip(cell, "Sample (Running)"), "Sample (Running)");
  RECT cr = tray::CellRect(cell);
  RECT around{cr.left - 300, cr.top - 60, cr.right, cr.bottom};
  EXPECT_TRUE(SaveScreenPng(Shot("05-tip-running"), &around));

  // The check mark the program sets as the menu opens; Escape closes it.
  MenuSpy spy(g_sample->thread);
  ASSERT_TRUE(spy.ok());
  const int closedBefore = CountLogLines("menu closed");
  ASSERT_TRUE(tray::ClickIcon(cell));
  const auto items = spy.WaitMenu(10000);
  ASSERT_EQ(items.size(), 6u);
  EXPECT_TRUE(items[0].checked);
  MenuSpy::Close(g_sample->window);
  EXPECT_TRUE(spy.WaitClosed(5000));
  const DWORD start = GetTickCount();
  while (CountLogLines("menu closed") == closedBefore && GetTickCount() - start < 5000) Sleep(20);
  EXPECT_EQ(CountLogLines("menu closed"), closedBefore + 1);
  EXPECT_EQ(CountLogLines("command 102"), 1) << "Escape chose nothing";
}

TEST_F(TrayEquipment, KeysChooseAnItem) {
  const int cell = Cell();
  ASSERT_GE(cell, 0);
  MenuSpy spy(g_sample->thread);
  ASSERT_TRUE(spy.ok());
  ASSERT_TRUE(tray::ClickIcon(cell));
  const auto items = spy.WaitMenu(10000);
  ASSERT_EQ(items.size(), 6u);
  // From "Running" under the pointer, Down past the separator to "Toggle
  // state", and Return.
  ASSERT_TRUE(MenuSpy::PressKeys(items[0], {"Down", "Return"}));
  EXPECT_TRUE(WaitLogLine("state Ready"));
  EXPECT_TRUE(spy.WaitClosed(5000));
  EXPECT_TRUE(tray::WaitIcon(cell, LoadIconA(nullptr, IDI_INFORMATION), 5000));
  EXPECT_EQ(tray::ReadTip(cell), "Sample (Ready)");
}

TEST_F(TrayEquipment, TextTypedIntoAWindowOfTheProgram) {
  const int cell = Cell();
  ASSERT_GE(cell, 0);
  MenuSpy spy(g_sample->thread);
  ASSERT_TRUE(spy.ok());
  ASSERT_TRUE(tray::ClickIcon(cell));
  const auto items = spy.WaitMenu(10000);
  ASSERT_EQ(items.size(), 6u);
  ASSERT_TRUE(MenuSpy::ChooseByClick(items[3]));
  ASSERT_TRUE(WaitLogLine("name window"));
  HWND w = nullptr;
  const DWORD start = GetTickCount();
  while (!(w = FindWindowA("KelmTraySampleName", "Sample Name")) && GetTickCount() - start < 5000) Sleep(20);
  ASSERT_TRUE(w);
  RECT edit, ok;
  ASSERT_TRUE(GetWindowRect(GetDlgItem(w, 10), &edit));
  ASSERT_TRUE(GetWindowRect(GetDlgItem(w, IDOK), &ok));
  ASSERT_TRUE(x::TypeInto((edit.left + edit.right) / 2, (edit.top + edit.bottom) / 2, "Kelm user 1"));
  // What was typed is in the field, read across processes.
  char text[64] = {};
  const DWORD typed = GetTickCount();
  while (std::string(text) != "Kelm user 1" && GetTickCount() - typed < 5000) {
    SendMessageTimeoutA(GetDlgItem(w, 10), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    Sleep(20);
  }
  EXPECT_STREQ(text, "Kelm user 1");
  EXPECT_TRUE(SaveWindowPng(Shot("07-name-window"), w));
  ASSERT_TRUE(x::Click((ok.left + ok.right) / 2, (ok.top + ok.bottom) / 2));
  EXPECT_TRUE(WaitLogLine("name Kelm user 1"));
}

TEST_F(TrayEquipment, ExitChosenAndTheIconGoes) {
  const int cell = Cell();
  ASSERT_GE(cell, 0);
  const int before = tray::IconCount();
  MenuSpy spy(g_sample->thread);
  ASSERT_TRUE(spy.ok());
  ASSERT_TRUE(tray::ClickIcon(cell));
  const auto items = spy.WaitMenu(10000);
  ASSERT_EQ(items.size(), 6u);
  ASSERT_TRUE(MenuSpy::ChooseByClick(items[5]));
  EXPECT_TRUE(WaitLogLine("command 104"));
  EXPECT_EQ(WaitForSingleObject(g_sample->process.get(), 10000), WAIT_OBJECT_0);
  const DWORD start = GetTickCount();
  while (tray::IconCount() != before - 1 && GetTickCount() - start < 5000) Sleep(50);
  EXPECT_EQ(tray::IconCount(), before - 1);
  EXPECT_TRUE(SaveScreenPng(Shot("06-after-exit")));
  g_sample->window = nullptr;
}

}  // namespace

int main(int argc, char** argv) { return kelmtest::RunTestsOnTaskbarDesktop(argc, argv); }

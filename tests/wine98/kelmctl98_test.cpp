// KelmCtl end to end in a Windows 98 prefix: the real program as its own
// process, running with the Windows 98 version; the Windows 98 form of the
// disk stand-in, the file monitor and the receiver driven through kelmsim;
// and, in the tray program's place, a window of this test titled "Virtual
// Disk Manager" that records what KelmCtl sends it. What is checked is what
// kelmsim reports the drivers hold, what reaches that window, and the
// windows KelmCtl shows.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/win32/diskstore.h"
#include "common/win32/handles.h"
#include "common/win32/platform.h"
#include "drivers98.h"
#include "kelmsim_client.h"
#include "procwindows.h"

using namespace kelm::test;
using kelm::win::RegKey;
using kelm::win::UniqueHandle;

namespace {

constexpr UINT kMsgMonitorRequest = 0x8000;
constexpr UINT kMsgServiceNotify = 0x7FFF;
constexpr std::uint32_t kReload = 32769, kKeyTimeout = 32772, kKeyBack = 32773, kGetState = 32774,
                        kGetKey = 32775, kCheckMount = 32776, kToggleMount = 32777, kSetUser = 34816;
constexpr DWORD kMountWaitMs = 10000;
// The user's delay is 2: lost on the third step without the key.
constexpr DWORD kLossWaitMs = 10000;

void Sim(const std::string& args) { ASSERT_EQ(Kelmsim(args).code, 0u) << args; }

bool WaitMonitor(const std::string& want, DWORD ms = kMountWaitMs) {
  return Poll([&] { return Look().monitor == want; }, ms);
}
// True when cond holds at every look during ms.
template <typename F>
bool Holds(F cond, DWORD ms) {
  const DWORD start = GetTickCount();
  do {
    if (!cond()) return false;
    Sleep(100);
  } while (GetTickCount() - start < ms);
  return cond();
}

void SetRootText(const char* name, const char* value) {
  RegKey k;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kelm", 0, nullptr, 0, KEY_SET_VALUE, nullptr, k.put(),
                            nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(k.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                 static_cast<DWORD>(std::strlen(value) + 1));
}

std::string BinDir() {
  char dir[MAX_PATH] = {};
  kelm::win::ModuleDirectory(dir, sizeof dir);
  return dir;
}

// Windows titled exactly `title`, of any process.
int WindowsTitled(const char* title) {
  struct Ctx {
    const char* title;
    int n;
  } ctx{title, 0};
  EnumWindows(
      [](HWND w, LPARAM lp) -> BOOL {
        auto* c = reinterpret_cast<Ctx*>(lp);
        char text[64] = {};
        GetWindowTextA(w, text, sizeof text);
        if (std::strcmp(text, c->title) == 0) ++c->n;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&ctx));
  return ctx.n;
}

// KelmCtl.exe as the start-up entry starts it: its own process.
class KelmCtl {
 public:
  bool Start() {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const std::string dir = BinDir();
    std::string cmd = "\"" + dir + "\\KelmCtl.exe\"";
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si, &pi))
      return false;
    process_.reset(pi.hProcess);
    CloseHandle(pi.hThread);
    pid_ = pi.dwProcessId;
    return Poll(
        [&] {
          for (const TopWindow& w : ProcessWindows(pid_))
            if (w.caption == "KelmMonitor") window_ = w.hwnd;
          return window_ != nullptr || Exited(0);
        },
        10000) &&
           window_ != nullptr;
  }
  // Starts a copy and returns how long it ran; -1 when it did not end in ms.
  long RunsFor(DWORD ms, const std::function<void()>& meanwhile) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const std::string dir = BinDir();
    std::string cmd = "\"" + dir + "\\KelmCtl.exe\"";
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si, &pi)) return -1;
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    process_.reset(process.release());
    pid_ = pi.dwProcessId;
    const DWORD start = GetTickCount();
    meanwhile();
    const bool ended = WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0;
    return ended ? static_cast<long>(GetTickCount() - start) : -1;
  }
  // A command as the tray program sends it; the handler's result, or -1.
  LRESULT Send(std::uint32_t code, WPARAM arg = 0) const {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window_, kMsgMonitorRequest, arg, static_cast<LPARAM>(code), SMTO_NORMAL, 10000,
                             &result))
      return -1;
    return static_cast<LRESULT>(result);
  }
  void Post(std::uint32_t code, WPARAM arg = 0) const {
    PostMessageA(window_, kMsgMonitorRequest, arg, static_cast<LPARAM>(code));
  }
  // Ends it the way the uninstaller does.
  bool Close() {
    if (!process_) return true;
    PostMessageA(window_, WM_CLOSE, 0, 0);
    const bool ended = Exited(10000);
    if (!ended) TerminateProcess(process_.get(), 1);
    process_.reset();
    window_ = nullptr;
    return ended;
  }
  bool Exited(DWORD ms) const { return WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0; }
  // The visible message boxes of this copy with this caption.
  std::vector<HWND> Boxes(const std::string& caption = "Error") const {
    std::vector<HWND> out;
    for (const TopWindow& w : ProcessWindows(pid_))
      if (w.visible && w.caption == caption) out.push_back(w.hwnd);
    return out;
  }
  HWND window() const { return window_; }
  DWORD pid() const { return pid_; }
  ~KelmCtl() {
    if (process_) {
      TerminateProcess(process_.get(), 1);
      WaitForSingleObject(process_.get(), 5000);
    }
  }

 private:
  UniqueHandle process_;
  DWORD pid_ = 0;
  HWND window_ = nullptr;
};

// "Virtual Disk Manager" in a thread of this process: records kind and
// value of every MsgServiceNotify and answers `answer`.
class TrayStandIn {
 public:
  explicit TrayStandIn(LRESULT answer = 1) : answer_(answer) {
    ready_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    thread_.reset(CreateThread(nullptr, 0, Run, this, 0, nullptr));
    WaitForSingleObject(ready_.get(), 10000);
  }
  ~TrayStandIn() {
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    WaitForSingleObject(thread_.get(), 10000);
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Notices() {
    std::lock_guard<std::mutex> g(lock_);
    return notices_;
  }
  // How often kind:value has arrived.
  int Count(std::uint32_t kind, std::uint32_t value) {
    int n = 0;
    for (auto& e : Notices()) n += e.first == kind && e.second == value;
    return n;
  }
  bool WaitCount(std::uint32_t kind, std::uint32_t value, int n, DWORD ms = kLossWaitMs) {
    return Poll([&] { return Count(kind, value) >= n; }, ms);
  }
  void Clear() {
    std::lock_guard<std::mutex> g(lock_);
    notices_.clear();
  }

 private:
  static LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TrayStandIn*>(GetWindowLongPtrA(w, GWLP_USERDATA));
    if (msg == kMsgServiceNotify && self) {
      std::lock_guard<std::mutex> g(self->lock_);
      self->notices_.emplace_back(static_cast<std::uint32_t>(wp & 0xFF), static_cast<std::uint32_t>(lp));
      return self->answer_;
    }
    if (msg == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(w, msg, wp, lp);
  }
  static DWORD WINAPI Run(LPVOID p) {
    auto* self = static_cast<TrayStandIn*>(p);
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KelmCtlTestTray";
    RegisterClassA(&wc);
    self->window_ = CreateWindowA("KelmCtlTestTray", "Virtual Disk Manager", WS_POPUP, 0, 0, 10, 10, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    if (self->window_) SetWindowLongPtrA(self->window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    SetEvent(self->ready_.get());
    MSG msg;
    while (self->window_ && GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
  }

  LRESULT answer_;
  UniqueHandle ready_, thread_;
  HWND window_ = nullptr;
  std::mutex lock_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> notices_;
};

void SaveSlot(unsigned slot, std::uint32_t sizeMb, const char* password, bool autoMount) {
  char name[32];
  std::snprintf(name, sizeof name, "kelmctl98_%u.img", slot);
  const std::string path = TempPath(name);
  ASSERT_TRUE(WriteTestImage(path, sizeMb, password)) << path;
  kelm::win::SlotSettings s;
  s.valid = true;
  s.imagePath = path;
  s.sizeMb = sizeMb;
  s.autoMount = autoMount;
  s.password = password;
  ASSERT_EQ(kelm::win::SaveSlot("1234", slot, s, "2", nullptr), kelm::win::SaveSlotResult::Saved);
}

class KelmCtl98 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // KelmCtl runs as it does at home: Windows 98.
    RegKey app;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\KelmCtl.exe", 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, app.put(), nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(app.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("win98"), 6);
    ASSERT_EQ(Kelmsim("install win98").code, 0u);
    // User 1234: slots 0 and 1 mount by themselves, slot 2 on request.
    SaveSlot(0, 40, "pw1", true);
    SaveSlot(1, 33, "", true);
    SaveSlot(2, 34, "pw3", false);
  }
  static void TearDownTestSuite() {
    for (unsigned n = 0; n < 3; ++n) {
      char name[32];
      std::snprintf(name, sizeof name, "kelmctl98_%u.img", n);
      DeleteFileA(TempPath(name).c_str());
    }
    EXPECT_EQ(Kelmsim("uninstall").code, 0u);
  }
  void SetUp() override { Sim("monitor reset"); }
  void TearDown() override {
    EXPECT_TRUE(ctl_.Close());
    for (const char* a : {"fail none", "key none", "receiver plug", "monitor reset"}) Kelmsim(a);
    UniqueHandle k(CreateFileA("\\\\.\\kelm", 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    DWORD n = 0;
    if (k) DeviceIoControl(k.get(), 0x220017, nullptr, 0, nullptr, 0, &n, nullptr);
  }
  // RF key mode, the receiver hearing 1234, the disks mounted.
  void StartMounted() {
    SetRootText("INSTALLTYPE", "RFKEY");
    Sim("key 1234");
    ASSERT_TRUE(ctl_.Start());
    ASSERT_TRUE(WaitSlots("DE--"));
    ASSERT_TRUE(WaitMonitor("1234"));
  }
  KelmCtl ctl_;
};

TEST_F(KelmCtl98, NoWatchUntilTheReceiverIsThere) {
  SetRootText("INSTALLTYPE", "RFKEY");
  Sim("receiver unplug");
  Sim("key 1234");
  TrayStandIn tray;
  ASSERT_TRUE(ctl_.Start());
  // Three watch periods: nothing is mounted, nobody learns of a key, and
  // the window is never seen.
  EXPECT_TRUE(Holds([&] { return Look().slots == "----" && !IsWindowVisible(ctl_.window()); }, 3000));
  EXPECT_EQ(ctl_.Send(kGetKey), 1);
  EXPECT_EQ(tray.Count(8, 0), 1);
  Sim("receiver plug");
  EXPECT_TRUE(WaitSlots("DE--"));
  EXPECT_TRUE(WaitMonitor("1234"));
  // The tray program's questions, answered to its window.
  tray.Clear();
  EXPECT_EQ(ctl_.Send(kGetState), 1);
  EXPECT_EQ(ctl_.Send(kGetKey), 1);
  EXPECT_EQ(ctl_.Send(kCheckMount), 1);
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> want{
      {7, 5}, {8, 1234}, {9, 0 + 256 * 'D'}, {9, 1 + 256 * 'E'}, {9, 2}, {9, 3}};
  EXPECT_EQ(tray.Notices(), want);
}

TEST_F(KelmCtl98, KeyLostWithoutTrayProgramDismountsAtOnce) {
  StartMounted();
  const DWORD start = GetTickCount();
  Sim("key none");
  EXPECT_TRUE(WaitSlots("----", kLossWaitMs));
  EXPECT_TRUE(WaitMonitor("0"));
  // Not before the delay of 2 was used up: three steps without the key.
  EXPECT_GE(GetTickCount() - start, 2000u);
  // The key heard again mounts again once the watch has restarted.
  Sim("key 1234");
  EXPECT_TRUE(WaitSlots("DE--"));
}

TEST_F(KelmCtl98, KeyLostTheTrayProgramDecides) {
  TrayStandIn tray;
  StartMounted();
  Sim("key none");
  ASSERT_TRUE(tray.WaitCount(1, 1234, 1));
  // The tray program took it: the disks stay while it decides.
  EXPECT_TRUE(Holds([] { return Look().slots == "DE--"; }, 2500));
  // KEYBACK: the disks stay and the watch starts again...
  Sim("key 1234");
  EXPECT_EQ(ctl_.Send(kKeyBack), 1);
  EXPECT_TRUE(Holds([] { return Look().slots == "DE--"; }, 2500));
  // ... and reports the next loss.
  Sim("key none");
  ASSERT_TRUE(tray.WaitCount(1, 1234, 2));
  EXPECT_EQ(Look().slots, "DE--");
  // KEYTIMEOUT dismounts.
  EXPECT_EQ(ctl_.Send(kKeyTimeout), 1);
  EXPECT_TRUE(WaitSlots("----"));
  EXPECT_TRUE(WaitMonitor("0"));
  EXPECT_EQ(tray.Count(1, 1234), 2);
}

TEST_F(KelmCtl98, TrayProgramAnsweringZeroMeansDismount) {
  TrayStandIn tray(0);
  StartMounted();
  Sim("key none");
  ASSERT_TRUE(tray.WaitCount(1, 1234, 1));
  EXPECT_TRUE(WaitSlots("----"));
  EXPECT_TRUE(WaitMonitor("0"));
}

TEST_F(KelmCtl98, UnpluggedReceiverDismountsAndWaitsForIt) {
  TrayStandIn tray;
  StartMounted();
  Sim("receiver unplug");
  EXPECT_TRUE(WaitSlots("----", 5000));
  EXPECT_TRUE(WaitMonitor("0"));
  EXPECT_EQ(tray.Count(1, 1234), 0);  // no notice: everything goes at once
  EXPECT_TRUE(Holds([] { return Look().slots == "----"; }, 2500));
  Sim("receiver plug");
  EXPECT_TRUE(WaitSlots("DE--"));
  EXPECT_TRUE(WaitMonitor("1234"));
}

TEST_F(KelmCtl98, ReloadKeepsTheDisksInRfKeyMode) {
  TrayStandIn tray;
  StartMounted();
  EXPECT_EQ(ctl_.Send(kReload), 1);
  EXPECT_EQ(Look().slots, "DE--");
  EXPECT_EQ(ctl_.Send(kGetKey), 1);
  EXPECT_EQ(tray.Count(8, 0), 1);  // the key is learnt again from the next reading
  EXPECT_TRUE(Poll(
      [&] {
        ctl_.Send(kGetKey);
        return tray.Count(8, 1234) > 0;
      },
      kMountWaitMs));
  EXPECT_EQ(Look().slots, "DE--");
}

TEST_F(KelmCtl98, SoftwareModeSetUser) {
  SetRootText("INSTALLTYPE", "SOFTWARE");
  Sim("key 1234");  // never read in this mode
  ASSERT_TRUE(ctl_.Start());
  EXPECT_TRUE(Holds([] { return Look().slots == "----"; }, 2500));
  EXPECT_EQ(ctl_.Send(kSetUser, 1234), 1);
  EXPECT_TRUE(WaitSlots("DE--"));
  EXPECT_TRUE(WaitMonitor("1234"));
  // Another user while 1234 is logged in: ignored.
  TrayStandIn tray;
  EXPECT_EQ(ctl_.Send(kSetUser, 5678), 1);
  EXPECT_TRUE(Holds([] { return Look().slots == "DE--"; }, 2000));
  EXPECT_EQ(ctl_.Send(kGetKey), 1);
  EXPECT_EQ(tray.Count(8, 1234), 1);
  // The same user again (only the low 16 bits count) logs out.
  EXPECT_EQ(ctl_.Send(kSetUser, 0x10000 + 1234), 1);
  EXPECT_TRUE(WaitSlots("----"));
  EXPECT_TRUE(WaitMonitor("0"));
  // TOGGLEMOUNT mounts a single slot for a logged-in user.
  EXPECT_EQ(ctl_.Send(kSetUser, 1234), 1);
  EXPECT_TRUE(WaitSlots("DE--"));
  EXPECT_EQ(ctl_.Send(kToggleMount, 2), 1);
  EXPECT_EQ(Look().slots, "DEF-");
  EXPECT_EQ(ctl_.Send(kToggleMount, 0x10000), 1);  // slot 0
  EXPECT_EQ(Look().slots, "-EF-");
}

TEST_F(KelmCtl98, SecondCopyEndsAndCloseTellsTheMonitor) {
  SetRootText("INSTALLTYPE", "SOFTWARE");
  ASSERT_TRUE(ctl_.Start());
  EXPECT_EQ(ctl_.Send(kSetUser, 1234), 1);
  ASSERT_TRUE(WaitMonitor("1234"));
  KelmCtl second;
  int mostTitled = 0;
  const long ran = second.RunsFor(8000, [&] {
    // While it waits for the mutex, the tray program still finds one window.
    Poll(
        [&] {
          mostTitled = std::max(mostTitled, WindowsTitled("KelmMonitor"));
          return second.Exited(0);
        },
        8000);
  });
  EXPECT_GE(ran, 2500) << "the second copy waits up to 3 seconds";
  EXPECT_LE(ran, 6000);
  EXPECT_EQ(mostTitled, 1);
  // The first one still answers.
  TrayStandIn tray;
  EXPECT_EQ(ctl_.Send(kGetState), 1);
  EXPECT_EQ(tray.Count(7, 5), 1);
  // WM_CLOSE ends it and the monitor is told that nobody is there.
  EXPECT_TRUE(ctl_.Close());
  EXPECT_EQ(Look().monitor, "0");
  EXPECT_EQ(WindowsTitled("KelmMonitor"), 0);
}

TEST_F(KelmCtl98, OneMessageBoxAtATime) {
  struct Case {
    const char* name;
    const char* mode;
    const char* failing;
    std::uint32_t command;  // 0: SETUSER 1234 in software mode, the key heard in RF key mode
    const char* text;
  } cases[] = {
      {"log-in, mount refused", "SOFTWARE", "mount", 0, "Mount Virtual Disk Fail."},
      {"key heard, user refused", "RFKEY", "set-user", 0, "Switch user Fail. Can not mount the virtaul disk."},
      {"TOGGLEMOUNT, user refused", "SOFTWARE", "set-user", kToggleMount,
       "Set user Id. Can not mount the virtaul disk."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetRootText("INSTALLTYPE", c.mode);
    Sim("key 1234");
    if (!c.command) Sim(std::string("fail ") + c.failing);
    KelmCtl ctl;
    ASSERT_TRUE(ctl.Start());
    if (c.command) {
      ASSERT_EQ(ctl.Send(kSetUser, 1234), 1);
      ASSERT_TRUE(WaitSlots("DE--"));
      Sim(std::string("fail ") + c.failing);
      ctl.Post(c.command, 2);  // its box holds the handler: not sent, posted
    } else if (std::strcmp(c.mode, "SOFTWARE") == 0) {
      ASSERT_EQ(ctl.Send(kSetUser, 1234), 1);
    }
    ASSERT_TRUE(Poll([&] { return !ctl.Boxes().empty(); }, kMountWaitMs));
    // The driver keeps refusing while the box waits: still one box after
    // four timer periods, and the commands are still answered.
    EXPECT_TRUE(Holds([&] { return ctl.Boxes().size() == 1; }, 4000));
    HWND box = ctl.Boxes().front();
    EXPECT_EQ(ControlText(box, 0xFFFF), c.text);
    {
      TrayStandIn tray;
      EXPECT_EQ(ctl.Send(kGetState), 1);
      EXPECT_EQ(tray.Notices().size(), 1u);
    }
    // Answered, it is gone and does not come back.
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(Poll([&] { return ctl.Boxes().empty(); }, 5000));
    EXPECT_TRUE(Holds([&] { return ctl.Boxes().empty(); }, 2500));
    // The watch goes on: with the driver willing again, log out and in (or
    // let the key go and come back) and the disks follow.
    Sim("fail none");
    if (std::strcmp(c.mode, "SOFTWARE") == 0) {
      EXPECT_EQ(ctl.Send(kSetUser, 1234), 1);
      EXPECT_TRUE(WaitSlots("----"));
      EXPECT_TRUE(WaitMonitor("0"));
      EXPECT_EQ(ctl.Send(kSetUser, 1234), 1);
    } else {
      Sim("key none");
      EXPECT_TRUE(WaitMonitor("0", kLossWaitMs));
      Sim("key 1234");
    }
    EXPECT_TRUE(WaitSlots("DE--"));
    EXPECT_TRUE(ctl.Close());
    Sim("monitor reset");
    UniqueHandle k(CreateFileA("\\\\.\\kelm", 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    DWORD n = 0;
    if (k) DeviceIoControl(k.get(), 0x220017, nullptr, 0, nullptr, 0, &n, nullptr);
  }
}

TEST_F(KelmCtl98, CloseWhileABoxWaits) {
  // The uninstaller's WM_CLOSE must not wait for somebody to answer a box.
  SetRootText("INSTALLTYPE", "SOFTWARE");
  Sim("fail mount");
  ASSERT_TRUE(ctl_.Start());
  ASSERT_EQ(ctl_.Send(kSetUser, 1234), 1);
  ASSERT_TRUE(Poll([&] { return !ctl_.Boxes().empty(); }, kMountWaitMs));
  EXPECT_EQ(Look().monitor, "1234");
  EXPECT_TRUE(ctl_.Close());
  EXPECT_EQ(Look().monitor, "0");
}

TEST_F(KelmCtl98, ProgramResources) {
  const std::string path = BinDir() + "\\KelmCtl.exe";
  const HMODULE exe = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(exe);
  wchar_t text[64] = {};
  EXPECT_GT(LoadStringW(exe, 103, text, 64), 0);
  EXPECT_STREQ(text, L"Windows \x901a\x4fe1\x7aef\x53e3\x521d\x59cb\x5316\x5931\x8d25\x3002");
  FreeLibrary(exe);
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
  char* name = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904b0\\OriginalFilename",
                             reinterpret_cast<void**>(&name), &len));
  EXPECT_STREQ(name, "KelmCtl.exe");
}

}  // namespace

// kelmhkey.dll with real keys: xdotool types into keylog.exe, a separate
// process, while this process owns the "Virtual Disk Manager" window the
// hook posts to. The hook runs inside keylog before keylog receives each key
// message, and its PostMessage is queued at once; so once keylog has counted
// a key, whatever the hook posted for it is already in this thread's queue.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/win32/handles.h"
#include "hotkey/kelmhkey.h"
#include "tools/keylog/keylog.h"
#include "xdo.h"

namespace {

constexpr UINT kHotKeyMessage = 13410;
constexpr char kTrayTitle[] = "Virtual Disk Manager";
constexpr DWORD kLimitMs = 10000;
// What the tray program passes; the library ignores all three.
constexpr unsigned long kTrayMessageArg = 13410, kTrayKeyArg = VK_F2;

void Pump() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
}

// Polls cond every 5 ms for up to ms, keeping this thread's queue served.
template <typename Cond>
bool WaitFor(Cond cond, DWORD ms = kLimitMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    Pump();
    if (cond()) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(5);
  }
}

std::string BinDir() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string dir = path;
  return dir.substr(0, dir.find_last_of('\\') + 1);
}

// The tray program's window as the hook finds it: hidden (the key focus stays
// with keylog), top-level, found by its title alone.
class TrayWindow {
 public:
  TrayWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KelmHotKeyTestTray";
    RegisterClassA(&wc);  // fails harmlessly when already registered
    hwnd_ = CreateWindowExA(0, wc.lpszClassName, kTrayTitle, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                            wc.hInstance, nullptr);
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~TrayWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
  }
  TrayWindow(const TrayWindow&) = delete;
  TrayWindow& operator=(const TrayWindow&) = delete;

  HWND get() const { return hwnd_; }
  int Received() {
    Pump();
    return received_;
  }
  int WithParameters() const { return withParameters_; }

 private:
  static LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TrayWindow*>(GetWindowLongPtrA(w, GWLP_USERDATA));
    if (self && msg == kHotKeyMessage) {
      ++self->received_;
      if (wp != 0 || lp != 0) ++self->withParameters_;
      return 0;
    }
    return DefWindowProcA(w, msg, wp, lp);
  }

  HWND hwnd_ = nullptr;
  int received_ = 0;
  int withParameters_ = 0;
};

// keylog.exe in its own process, watching kelmhkey and its every-key build.
class Receiver {
 public:
  bool Start() {
    const std::string title = "Kelm key log " + std::to_string(GetCurrentProcessId());
    std::string cmd =
        "\"" + BinDir() + "keylog.exe\" --title \"" + title + "\" --watch kelmhkey.dll --watch kelmhkey_everykey.dll";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    process_.reset(pi.hProcess);
    kelm::win::UniqueHandle thread(pi.hThread);
    return WaitFor([&] { return (window_ = FindWindowA(keylog::kClass, title.c_str())) != nullptr; });
  }

  void Stop() {
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    if (process_ && WaitForSingleObject(process_.get(), 5000) != WAIT_OBJECT_0) TerminateProcess(process_.get(), 1);
    process_.reset();
    window_ = nullptr;
  }

  long Ask(UINT query, WPARAM wp = 0) const {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window_, query, wp, 0, SMTO_NORMAL, 5000, &result)) return -100;
    return static_cast<long>(static_cast<LONG_PTR>(result));
  }

  HWND window() const { return window_; }

 private:
  kelm::win::UniqueHandle process_;
  HWND window_ = nullptr;
};

class HotKey : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    receiver_ = new Receiver;
    if (!receiver_->Start()) {
      setupError_ = "keylog.exe did not start";
      return;
    }
    if (!kelmtest::XFocus(receiver_->window())) {
      setupError_ = "cannot focus keylog's window with xdotool (DISPLAY unset or xdotool missing?)";
      return;
    }
    // After a focus change the first key can be lost: repeat until one counts.
    for (int i = 0; i < 5 && receiver_->Ask(keylog::kTotal) <= 0; ++i) {
      kelmtest::Xdo("key shift");
      WaitFor([] { return receiver_->Ask(keylog::kTotal) > 0; }, 2000);
    }
    if (receiver_->Ask(keylog::kTotal) <= 0) setupError_ = "keylog receives no keys";
  }

  static void TearDownTestSuite() {
    receiver_->Stop();
    delete receiver_;
    receiver_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(setupError_.empty()) << setupError_;
    ASSERT_EQ(FindWindowA(nullptr, kTrayTitle), nullptr) << "a window of that title is left over";
    ASSERT_EQ(receiver_->Ask(keylog::kFocused), 1) << "keylog's edit box lost the focus";
    receiver_->Ask(keylog::kReset);
  }

  void TearDown() override {
    UnHookHotKey();
    Pump();
  }

  // Types keys (xdotool key names) into keylog and waits until it has counted
  // exactly `events` more key messages.
  static ::testing::AssertionResult Type(const std::string& keys, long events) {
    const long before = receiver_->Ask(keylog::kTotal);
    std::string out;
    if (!kelmtest::Xdo("key --delay 0 " + keys, &out)) return ::testing::AssertionFailure() << "xdotool: " << out;
    if (!WaitFor([&] { return receiver_->Ask(keylog::kTotal) >= before + events; }))
      return ::testing::AssertionFailure()
             << "keylog counted " << receiver_->Ask(keylog::kTotal) - before << " key messages of " << events;
    const long got = receiver_->Ask(keylog::kTotal) - before;
    if (got != events) return ::testing::AssertionFailure() << "keylog counted " << got << ", not " << events;
    return ::testing::AssertionSuccess();
  }

  // Holds a key down until keylog has seen `presses` presses of it (the
  // first and its auto-repeats), then lets it go.
  static ::testing::AssertionResult Hold(const std::string& key, WPARAM vk, long presses) {
    const long before = receiver_->Ask(keylog::kDowns, vk);
    std::string out;
    if (!kelmtest::Xdo("keydown " + key, &out)) return ::testing::AssertionFailure() << "xdotool: " << out;
    const bool repeated = WaitFor([&] { return receiver_->Ask(keylog::kDowns, vk) >= before + presses; });
    const long ups = receiver_->Ask(keylog::kUps, vk);
    if (!kelmtest::Xdo("keyup " + key, &out)) return ::testing::AssertionFailure() << "xdotool: " << out;
    if (!WaitFor([&] { return receiver_->Ask(keylog::kUps, vk) == ups + 1; }))
      return ::testing::AssertionFailure() << "the release did not arrive";
    if (!repeated) return ::testing::AssertionFailure() << "no auto-repeat within " << kLimitMs << " ms";
    return ::testing::AssertionSuccess();
  }

  // The watched library is loaded into keylog by the first key after a hook
  // was set; from then on keylog counts its window searches.
  static ::testing::AssertionResult LoadIntoReceiver() {
    if (!Type("shift", 2)) return ::testing::AssertionFailure() << "the first key did not arrive";
    if (!WaitFor([] { return receiver_->Ask(keylog::kLookups) >= 0; }))
      return ::testing::AssertionFailure() << "keylog does not see the hook's library loaded";
    receiver_->Ask(keylog::kReset);
    return ::testing::AssertionSuccess();
  }

  static long Downs(WPARAM vk) { return receiver_->Ask(keylog::kDowns, vk); }
  static long Ups(WPARAM vk) { return receiver_->Ask(keylog::kUps, vk); }

  static Receiver* receiver_;
  static std::string setupError_;
};

Receiver* HotKey::receiver_ = nullptr;
std::string HotKey::setupError_;

unsigned long TrayArg(const TrayWindow& tray) {
  return static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(tray.get()));
}

TEST_F(HotKey, F12PressAndReleaseEachPostOneMessage) {
  TrayWindow tray;
  ASSERT_EQ(HookHotKey(TrayArg(tray), kTrayMessageArg, kTrayKeyArg), 1);
  ASSERT_TRUE(Type("F12", 2));
  EXPECT_EQ(tray.Received(), 2);
  EXPECT_EQ(tray.WithParameters(), 0) << "wParam and lParam must be 0";
  // The hook passes the key on: the other program still gets it.
  EXPECT_EQ(Downs(VK_F12), 1);
  EXPECT_EQ(Ups(VK_F12), 1);

  ASSERT_TRUE(Type("F12 F12 F12", 6));
  EXPECT_EQ(tray.Received(), 8);
}

TEST_F(HotKey, EveryAutoRepeatPostsToo) {
  TrayWindow tray;
  ASSERT_EQ(HookHotKey(TrayArg(tray), kTrayMessageArg, kTrayKeyArg), 1);
  ASSERT_TRUE(Hold("F12", VK_F12, 3));
  const long downs = Downs(VK_F12), ups = Ups(VK_F12);
  EXPECT_GE(downs, 3);
  EXPECT_EQ(ups, 1);
  EXPECT_EQ(tray.Received(), downs + ups);
}

TEST_F(HotKey, OtherKeysPostNothing) {
  TrayWindow tray;
  ASSERT_EQ(HookHotKey(TrayArg(tray), kTrayMessageArg, kTrayKeyArg), 1);
  // F2 is the key code the tray program passes: it is not the hot key.
  ASSERT_TRUE(Type("F2 a b z 1 Return F11 Escape", 16));
  ASSERT_TRUE(Hold("F2", VK_F2, 3));
  EXPECT_GE(Downs(VK_F2), 4);
  EXPECT_EQ(tray.Received(), 0);
  EXPECT_EQ(receiver_->Ask(keylog::kThreadMessages), 0);
  // The same hook does answer F12 right after.
  ASSERT_TRUE(Type("F12", 2));
  EXPECT_EQ(tray.Received(), 2);
}

TEST_F(HotKey, F12WithoutTheWindowPostsNothingAndStillArrives) {
  ASSERT_EQ(HookHotKey(0, kTrayMessageArg, kTrayKeyArg), 1);
  ASSERT_TRUE(Type("F12", 2));
  EXPECT_EQ(Downs(VK_F12), 1);
  EXPECT_EQ(Ups(VK_F12), 1);
  // A post to a window that was not found would land in keylog's own queue.
  EXPECT_EQ(receiver_->Ask(keylog::kThreadMessages), 0);

  // The window is searched for on each F12, so one that appears later is found.
  TrayWindow tray;
  ASSERT_TRUE(Type("F12", 2));
  EXPECT_EQ(tray.Received(), 2);
}

TEST_F(HotKey, SecondHookWithoutUnhookReturnsZeroAndInstallsNothing) {
  TrayWindow tray;
  ASSERT_EQ(HookHotKey(TrayArg(tray), kTrayMessageArg, kTrayKeyArg), 1);
  EXPECT_EQ(HookHotKey(TrayArg(tray), kTrayMessageArg, kTrayKeyArg), 0);
  ASSERT_TRUE(Type("F12", 2));
  EXPECT_EQ(tray.Received(), 2) << "two hooks would post twice";
  // One removal leaves no hook behind.
  EXPECT_EQ(UnHookHotKey(), 1);
  ASSERT_TRUE(Type("F12", 2));
  EXPECT_EQ(tray.Received(), 2);
  EXPECT_EQ(UnHookHotKey(), 0);
}

TEST_F(HotKey, UnhookWithoutHookReturnsZero) {
  EXPECT_EQ(UnHookHotKey(), 0);
  ASSERT_EQ(HookHotKey(0, kTrayMessageArg, kTrayKeyArg), 1);
  EXPECT_EQ(UnHookHotKey(), 1);
  EXPECT_EQ(UnHookHotKey(), 0);
  // Installable again after removal.
  EXPECT_EQ(HookHotKey(0, kTrayMessageArg, kTrayKeyArg), 1);
  EXPECT_EQ(UnHookHotKey(), 1);
}

TEST_F(HotKey, NothingPostedAfterUnhook) {
  TrayWindow tray;
  ASSERT_EQ(HookHotKey(TrayArg(tray), kTrayMessageArg, kTrayKeyArg), 1);
  ASSERT_TRUE(Type("F12", 2));
  ASSERT_EQ(tray.Received(), 2);
  ASSERT_EQ(UnHookHotKey(), 1);
  ASSERT_TRUE(Type("F12 F12", 4));
  EXPECT_EQ(Downs(VK_F12), 3);
  EXPECT_EQ(tray.Received(), 2);
}

// The window is searched for only on F12, not on every key of every process.
TEST_F(HotKey, WindowSearchedOnlyForF12) {
  TrayWindow tray;
  ASSERT_EQ(HookHotKey(TrayArg(tray), kTrayMessageArg, kTrayKeyArg), 1);
  ASSERT_TRUE(LoadIntoReceiver());
  ASSERT_TRUE(Type("a b F2 Return space shift", 12));
  EXPECT_EQ(receiver_->Ask(keylog::kLookups), 0);
  ASSERT_TRUE(Type("F12", 2));
  EXPECT_EQ(receiver_->Ask(keylog::kLookups), 2);
  EXPECT_EQ(tray.Received(), 2);
}

// The counting above does see searches: the build that searches on every key
// is caught by it.
TEST_F(HotKey, SearchCountSeesAHookThatSearchesOnEveryKey) {
  const std::string path = BinDir() + "kelmhkey_everykey.dll";
  struct Library {
    HMODULE h;
    ~Library() {
      if (h) FreeLibrary(h);
    }
  } lib{LoadLibraryA(path.c_str())};
  ASSERT_NE(lib.h, nullptr) << path;
  using Hook = int(__stdcall*)(unsigned long, unsigned long, unsigned long);
  using Unhook = int(__stdcall*)();
  auto hook = reinterpret_cast<Hook>(reinterpret_cast<void*>(GetProcAddress(lib.h, "HookHotKey")));
  auto unhook = reinterpret_cast<Unhook>(reinterpret_cast<void*>(GetProcAddress(lib.h, "UnHookHotKey")));
  ASSERT_TRUE(hook && unhook);
  TrayWindow tray;
  ASSERT_EQ(hook(TrayArg(tray), kTrayMessageArg, kTrayKeyArg), 1);
  const bool loaded = LoadIntoReceiver();
  const bool typed = loaded && Type("a b", 4);
  const long lookups = receiver_->Ask(keylog::kLookups);
  const int received = tray.Received();
  EXPECT_EQ(unhook(), 1);
  ASSERT_TRUE(loaded);
  ASSERT_TRUE(typed);
  EXPECT_EQ(lookups, 4);
  EXPECT_EQ(received, 0);
}

// One copy of the library's data per process, and a version block.
TEST(HotKeyLibrary, NoSharedSectionAndAVersionBlock) {
  HMODULE lib = GetModuleHandleA("kelmhkey.dll");
  ASSERT_NE(lib, nullptr);
  auto* base = reinterpret_cast<BYTE*>(lib);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    EXPECT_FALSE(section->Characteristics & IMAGE_SCN_MEM_SHARED)
        << std::string(reinterpret_cast<const char*>(section->Name), 8).c_str();
  }

  char path[MAX_PATH] = {};
  ASSERT_TRUE(GetModuleFileNameA(lib, path, sizeof path));
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  char* name = nullptr;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\OriginalFilename",
                             reinterpret_cast<void**>(&name), &len));
  EXPECT_STREQ(name, "kelmhkey.dll");
}

}  // namespace

// hotkeybench: the cost of the hot-key hook per keystroke. Real key events go
// to keylog.exe (another process, holding the keyboard focus) and the clock
// runs until keylog has received every one of them:
//   - with no hook,
//   - with kelmhkey.dll's hook (window searched for on F12 only),
//   - with kelmhkey_everykey.dll (the same hook searching on every key),
// each fed by SendInput from this program and by `xdotool key --repeat`.
// The key is F11 by default: no character, so that keylog's edit box adds
// little of its own to the time; --key a times a typed letter instead.
// A hidden "Virtual Disk Manager" window stands for the tray program, as in
// real use. Runs take turns in every round so that all see the same machine.
//
//   hotkeybench [--keys N] [--rounds R] [--key F11|a]   (defaults 1000, 7, F11)
//
// Prints a table, in ms per 1000 keys (a key: one press and one release).
// Exit code 0 when every run completed, 1 otherwise.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/win32/handles.h"
#include "tools/keylog/keylog.h"
#include "xdo.h"

namespace {

constexpr char kTrayTitle[] = "Virtual Disk Manager";
constexpr DWORD kRunLimitMs = 120000;

HWND g_self;  // receives keylog's notifications

std::string BinDir() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string dir = path;
  return dir.substr(0, dir.find_last_of('\\') + 1);
}

double Now() {
  static LARGE_INTEGER freq{};
  if (!freq.QuadPart) QueryPerformanceFrequency(&freq);
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

long Ask(HWND keylogWindow, UINT query, WPARAM wp = 0, LPARAM lp = 0) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(keylogWindow, query, wp, lp, SMTO_NORMAL, 5000, &result)) return -100;
  return static_cast<long>(static_cast<LONG_PTR>(result));
}

// Waits for keylog's kNotify, serving this thread's queue; false after ms.
bool WaitNotify(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == keylog::kNotify && m.hwnd == g_self) return true;
      DispatchMessageA(&m);
    }
    const DWORD spent = GetTickCount() - start;
    if (spent > ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_ALLINPUT);
  }
}

WORD g_vk = VK_F11;

bool SendKeys(int keys) {
  std::vector<INPUT> in(static_cast<size_t>(keys) * 2);
  for (size_t i = 0; i < in.size(); ++i) {
    in[i].type = INPUT_KEYBOARD;
    in[i].ki.wVk = g_vk;
    in[i].ki.dwFlags = (i % 2) ? KEYEVENTF_KEYUP : 0;
  }
  return SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT)) == in.size();
}

struct Hook {
  const char* label;
  const char* dll;  // null: no hook
  HMODULE module = nullptr;
  int(__stdcall* hook)(unsigned long, unsigned long, unsigned long) = nullptr;
  int(__stdcall* unhook)() = nullptr;
};

bool LoadHook(Hook& h) {
  if (!h.dll) return true;
  h.module = LoadLibraryA((BinDir() + h.dll).c_str());
  if (!h.module) return false;
  h.hook = reinterpret_cast<decltype(h.hook)>(reinterpret_cast<void*>(GetProcAddress(h.module, "HookHotKey")));
  h.unhook = reinterpret_cast<decltype(h.unhook)>(reinterpret_cast<void*>(GetProcAddress(h.module, "UnHookHotKey")));
  return h.hook && h.unhook;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int keys = 1000, rounds = 7;
  std::string xkey = "F11";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--keys")) {
      keys = std::atoi(argv[i + 1]);
    } else if (!std::strcmp(argv[i], "--rounds")) {
      rounds = std::atoi(argv[i + 1]);
    } else if (!std::strcmp(argv[i], "--key") && !std::strcmp(argv[i + 1], "a")) {
      xkey = "a";
      g_vk = 'A';
    } else if (!std::strcmp(argv[i], "--key") && !std::strcmp(argv[i + 1], "F11")) {
      xkey = "F11";
      g_vk = VK_F11;
    } else {
      std::fprintf(stderr, "usage: hotkeybench [--keys N] [--rounds R] [--key F11|a]\n");
      return 2;
    }
  }
  if (keys < 1 || rounds < 1) return 2;

  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "KelmHotKeyBench";
  RegisterClassA(&wc);
  // The tray program's window: hidden, so that keylog keeps the focus.
  HWND tray = CreateWindowExA(0, wc.lpszClassName, kTrayTitle, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                              wc.hInstance, nullptr);
  g_self = CreateWindowExA(0, wc.lpszClassName, "hotkeybench", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           wc.hInstance, nullptr);
  if (!tray || !g_self) return 1;

  Hook hooks[] = {{"no hook", nullptr},
                  {"kelmhkey.dll (search on F12 only)", "kelmhkey.dll"},
                  {"search on every key (former)", "kelmhkey_everykey.dll"}};
  for (Hook& h : hooks) {
    if (!LoadHook(h)) {
      std::fprintf(stderr, "hotkeybench: cannot load %s\n", h.dll);
      return 1;
    }
  }

  std::string cmd = "\"" + BinDir() + "keylog.exe\" --title \"Kelm key bench\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 1;
  kelm::win::UniqueHandle process(pi.hProcess), thread(pi.hThread);
  HWND receiver = nullptr;
  for (int i = 0; i < 1000 && !receiver; ++i, Sleep(10)) receiver = FindWindowA(keylog::kClass, "Kelm key bench");
  bool ok = receiver && kelmtest::XFocus(receiver);
  // Until a key counts (the first after a focus change can be lost).
  for (int i = 0; ok && i < 5 && Ask(receiver, keylog::kTotal) <= 0; ++i) {
    SendKeys(1);
    Ask(receiver, keylog::kNotify, 1, reinterpret_cast<LPARAM>(g_self));
    WaitNotify(2000);
  }
  if (!ok || Ask(receiver, keylog::kTotal) <= 0) {
    std::fprintf(stderr, "hotkeybench: keylog.exe does not receive keys\n");
    ok = false;
  }

  const char* sources[] = {"SendInput", "xdotool"};
  std::vector<double> ms[2][3];
  const long events = 2L * keys;
  for (int r = 0; ok && r < rounds; ++r) {
    for (int s = 0; ok && s < 2; ++s) {
      for (int k = 0; ok && k < 3; ++k) {
        Hook& h = hooks[(k + r) % 3];
        if (h.hook && h.hook(0, 13410, VK_F2) != 1) {
          std::fprintf(stderr, "hotkeybench: HookHotKey of %s failed\n", h.dll);
          ok = false;
          break;
        }
        // One key first: it loads the hook's library into keylog.
        Ask(receiver, keylog::kReset);
        Ask(receiver, keylog::kNotify, 2, reinterpret_cast<LPARAM>(g_self));
        ok = SendKeys(1) && WaitNotify(10000);
        Ask(receiver, keylog::kReset);
        Ask(receiver, keylog::kNotify, static_cast<WPARAM>(events), reinterpret_cast<LPARAM>(g_self));
        const double start = Now();
        std::string out;
        if (ok) {
          ok = s == 0 ? SendKeys(keys)
                      : kelmtest::Xdo("key --delay 0 --repeat " + std::to_string(keys) + " " + xkey, &out, 110);
        }
        if (ok) ok = WaitNotify(kRunLimitMs);
        const double spent = Now() - start;
        if (h.unhook) h.unhook();
        if (!ok) {
          DWORD code = 0;
          if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0 && GetExitCodeProcess(process.get(), &code)) {
            std::fprintf(stderr, "hotkeybench: %s, %s: keylog.exe ended (exit code 0x%lx)\n", sources[s], h.label,
                         code);
          } else {
            std::fprintf(stderr, "hotkeybench: %s, %s: keylog counted %ld of %ld key messages (-100: no answer) %s\n",
                         sources[s], h.label, Ask(receiver, keylog::kTotal), events, out.c_str());
          }
          break;
        }
        ms[s][(k + r) % 3].push_back(spent * 1000.0 / keys);
      }
    }
  }
  PostMessageA(receiver, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process.get(), 5000) != WAIT_OBJECT_0) TerminateProcess(process.get(), 1);
  if (!ok) return 1;

  std::printf("%d keys %s (press + release) per run into keylog.exe, %d runs of each; ms per 1000 keys\n", keys,
              xkey.c_str(), rounds);
  // Other load on the machine only ever adds time, so the minimum is the
  // steadier figure where medians scatter.
  std::printf("  %-10s %-36s %8s %8s %8s %12s %12s\n", "source", "hook", "median", "min", "max", "median-base",
              "min-base");
  for (int s = 0; s < 2; ++s) {
    const double baseMed = Median(ms[s][0]);
    const double baseMin = *std::min_element(ms[s][0].begin(), ms[s][0].end());
    for (int k = 0; k < 3; ++k) {
      const std::vector<double>& v = ms[s][k];
      const double med = Median(v), lo = *std::min_element(v.begin(), v.end());
      std::printf("  %-10s %-36s %8.1f %8.1f %8.1f", sources[s], hooks[k].label, med, lo,
                  *std::max_element(v.begin(), v.end()));
      if (k) {
        std::printf(" %+12.1f %+12.1f\n", med - baseMed, lo - baseMin);
      } else {
        std::printf("\n");
      }
    }
  }
  return 0;
}

// The hook procedure runs inside every process that receives keyboard input
// while the hook is installed; each such process has its own copy of this
// library and of the variables below (deliberately no shared section), so
// only the installing process ever holds a hook handle.
#include <windows.h>

#include "hotkey/kelmhkey.h"

namespace {

constexpr WPARAM kHotKey = VK_F12;  // 123
constexpr char kTargetTitle[] = "Virtual Disk Manager";
constexpr UINT kHotKeyMessage = 13410;  // 0x3462

HINSTANCE g_module = nullptr;
// Not an RAII owner on purpose: UnHookHotKey decides the hook's end, and
// user32 must not be called from DllMain at unload; the system removes a
// hook left behind when its process ends.
HHOOK g_hook = nullptr;

LRESULT CALLBACK KeyboardProc(int code, WPARAM wParam, LPARAM lParam) noexcept {
  // Press, release and repeat alike: the transition bits in lParam are not
  // looked at, so the tray program hears every F12 event.
#ifdef KELMHKEY_LOOKUP_EVERY_KEY
  // The former cost, kept only for the benchmark's comparison build: one
  // window search for every key in every process.
  HWND target = FindWindowA(nullptr, kTargetTitle);
  if (wParam == kHotKey && target) PostMessageA(target, kHotKeyMessage, 0, 0);
#else
  // Searched only for F12: every other keystroke of every process costs
  // nothing beyond the call itself.
  if (wParam == kHotKey) {
    if (HWND target = FindWindowA(nullptr, kTargetTitle)) PostMessageA(target, kHotKeyMessage, 0, 0);
  }
#endif
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

}  // namespace

extern "C" KELMHKEY_API int __stdcall HookHotKey(unsigned long, unsigned long, unsigned long) {
  if (g_hook) return 0;
  g_hook = SetWindowsHookExA(WH_KEYBOARD, KeyboardProc, g_module, 0);
  return g_hook ? 1 : 0;
}

extern "C" KELMHKEY_API int __stdcall UnHookHotKey(void) {
  if (!g_hook) return 0;
  UnhookWindowsHookEx(g_hook);
  g_hook = nullptr;
  return 1;
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  // Thread notifications stay on: the statically linked runtime may rely on
  // them, whatever the small cost in the processes the hook visits.
  if (reason == DLL_PROCESS_ATTACH) g_module = module;
  return TRUE;
}

// keylog: a window with an edit box that counts the keyboard messages it
// receives (see keylog.h for the queries).
//
//   keylog [--title TEXT] [--watch LIBRARY.dll]...
//
// --watch counts the calls LIBRARY makes to FindWindowA in this process: once
// the library has been loaded here (a global hook's library arrives with the
// first key), its import of FindWindowA is pointed at a counting stand-in.
// That shows whether a hook searches for its window on keys other than its
// own. Application messages (WM_USER and up) posted to the thread rather
// than to a window are counted too: a PostMessage to a window that was not
// found lands there. Ends when
// the window is closed.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/keylog/keylog.h"

namespace {

long g_downs[256];
long g_ups[256];
long g_total;
long g_threadMessages;
HWND g_edit;
long g_notifyAt;
HWND g_notify;

std::vector<std::string> g_watched;
bool g_watching;  // a watched library is loaded and its import points at the stand-in
long g_lookups;

HWND WINAPI CountingFindWindowA(LPCSTR cls, LPCSTR title) {
  ++g_lookups;  // only this thread runs hooks here
  return FindWindowA(cls, title);
}

// Points every import slot of module that holds FindWindowA at the stand-in;
// true when the module now calls the stand-in.
bool PatchFindWindow(HMODULE module) {
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress) return false;
  const auto real = reinterpret_cast<ULONG_PTR>(GetProcAddress(GetModuleHandleA("user32.dll"), "FindWindowA"));
  const auto counting = reinterpret_cast<ULONG_PTR>(&CountingFindWindowA);
  bool patched = false;
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
    for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk); slot->u1.Function; ++slot) {
      if (slot->u1.Function == counting) patched = true;
      if (slot->u1.Function != real) continue;
      DWORD old = 0;
      if (!VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &old)) continue;
      slot->u1.Function = counting;
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, old, &old);
      patched = true;
    }
  }
  return patched;
}

// Checked after every message: a library can also be unloaded and loaded
// again (at the same address, with fresh imports).
void WatchLibraries() {
  bool watching = false;
  for (const std::string& name : g_watched) {
    if (HMODULE m = GetModuleHandleA(name.c_str()); m && PatchFindWindow(m)) watching = true;
  }
  g_watching = watching;
}

LRESULT CALLBACK WndProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case keylog::kDowns:
      return wp < 256 ? g_downs[wp] : 0;
    case keylog::kUps:
      return wp < 256 ? g_ups[wp] : 0;
    case keylog::kTotal:
      return g_total;
    case keylog::kLookups:
      return g_watching ? g_lookups : -1;
    case keylog::kThreadMessages:
      return g_threadMessages;
    case keylog::kReset:
      std::memset(g_downs, 0, sizeof g_downs);
      std::memset(g_ups, 0, sizeof g_ups);
      g_total = 0;
      g_lookups = 0;
      g_threadMessages = 0;
      SetWindowTextA(g_edit, "");
      return 0;
    case keylog::kNotify:
      g_notifyAt = static_cast<long>(wp);
      g_notify = reinterpret_cast<HWND>(lp);
      if (g_total >= g_notifyAt) {
        PostMessageA(g_notify, keylog::kNotify, static_cast<WPARAM>(g_total), 0);
        g_notify = nullptr;
      }
      return 0;
    case keylog::kFocused:
      return GetFocus() == g_edit ? 1 : 0;
    case WM_SIZE:
      MoveWindow(g_edit, 0, 0, LOWORD(lp), HIWORD(lp), TRUE);
      return 0;
    case WM_SETFOCUS:
      SetFocus(g_edit);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(w, msg, wp, lp);
}

void Count(const MSG& m) {
  if (!m.hwnd && m.message >= WM_USER) ++g_threadMessages;
  const bool down = m.message == WM_KEYDOWN || m.message == WM_SYSKEYDOWN;
  const bool up = m.message == WM_KEYUP || m.message == WM_SYSKEYUP;
  if (!down && !up) return;
  ++g_total;
  if (m.wParam < 256) ++(down ? g_downs : g_ups)[m.wParam];
  if (g_notify && g_total >= g_notifyAt) {
    PostMessageA(g_notify, keylog::kNotify, static_cast<WPARAM>(g_total), 0);
    g_notify = nullptr;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string title = "Kelm key log";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--title")) {
      title = argv[i + 1];
    } else if (!std::strcmp(argv[i], "--watch")) {
      g_watched.push_back(argv[i + 1]);
    } else {
      return 2;
    }
  }
  HINSTANCE inst = GetModuleHandleA(nullptr);
  WNDCLASSA wc{};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = inst;
  wc.hCursor = LoadCursor(nullptr, IDC_IBEAM);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = keylog::kClass;
  if (!RegisterClassA(&wc)) return 1;
  HWND window = CreateWindowExA(0, keylog::kClass, title.c_str(), WS_OVERLAPPEDWINDOW, 100, 100, 400, 300, nullptr,
                                nullptr, inst, nullptr);
  if (!window) return 1;
  g_edit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL, 0, 0, 400, 300, window,
                           nullptr, inst, nullptr);
  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);
  SetFocus(g_edit);
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) {
    Count(m);
    // A hook's library is loaded while GetMessage runs its first hook call.
    WatchLibraries();
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  return 0;
}

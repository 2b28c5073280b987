// kelmmenuspy.dll: a WH_CALLWNDPROCRET hook that a test sets on the thread
// owning a pop-up menu. Wine keeps a menu's items in its owner's memory, so
// they can only be read from there: the hook records the items, their
// states and their screen rectangles once the menu is on screen, and counts
// openings and closings, into a mapping the test created.
#include <windows.h>

#include <cstdio>
#include <string>

#include "shared.h"

namespace {

using kelmtest::menuspy::Shared;

HMENU g_lastInit = nullptr;

std::string Describe(HMENU menu) {
  std::string text;
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOA mi{};
    mi.cbSize = sizeof mi;
    mi.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    char label[512] = {};
    mi.dwTypeData = label;
    mi.cch = sizeof label - 1;
    if (!GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &mi)) continue;
    std::string flags;
    if (mi.fType & MFT_SEPARATOR) flags += 'S';
    if (mi.fState & MFS_CHECKED) flags += 'C';
    if (mi.fState & MFS_DISABLED) flags += 'G';
    if (mi.fState & MFS_DEFAULT) flags += 'D';
    if (mi.hSubMenu) flags += 'P';
    if (mi.fType & MFT_RADIOCHECK) flags += 'R';
    if (flags.empty()) flags = "-";
    RECT r{};
    GetMenuItemRect(nullptr, menu, static_cast<UINT>(i), &r);
    for (char& c : label)
      if (c == '\n' || c == '\r') c = ' ';
    char line[700];
    std::snprintf(line, sizeof line, "item %d %u %s %ld %ld %ld %ld %s\n", i, mi.wID, flags.c_str(), r.left, r.top,
                  r.right, r.bottom, (mi.fType & MFT_SEPARATOR) ? "" : label);
    text += line;
  }
  return text;
}

// Changes the shared record under the owner-thread's lock.
template <typename F>
void Update(F change) {
  const DWORD tid = GetCurrentThreadId();
  HANDLE map = OpenFileMappingA(FILE_MAP_WRITE, FALSE, kelmtest::menuspy::MappingName(tid).c_str());
  if (!map) return;
  auto* shared = static_cast<Shared*>(MapViewOfFile(map, FILE_MAP_WRITE, 0, 0, sizeof(Shared)));
  HANDLE lock = OpenMutexA(SYNCHRONIZE, FALSE, kelmtest::menuspy::MutexName(tid).c_str());
  if (shared && lock && WaitForSingleObject(lock, 2000) != WAIT_TIMEOUT) {
    change(*shared);
    ReleaseMutex(lock);
  }
  if (lock) CloseHandle(lock);
  if (shared) UnmapViewOfFile(shared);
  CloseHandle(map);
}

void Seen(const CWPRETSTRUCT& m) {
  switch (m.message) {
    case WM_INITMENUPOPUP:
      g_lastInit = reinterpret_cast<HMENU>(m.wParam);
      Update([](Shared& s) { ++s.opened; });
      break;
    case WM_ENTERIDLE: {
      if (m.wParam != MSGF_MENU) break;
      // The first idle moment of each opening: the menu is laid out and
      // shown. A new menu window counts as an opening too (TPM_NONOTIFY
      // menus send no WM_INITMENUPOPUP).
      HWND popup = reinterpret_cast<HWND>(m.lParam);
      const auto window = static_cast<ULONGLONG>(reinterpret_cast<ULONG_PTR>(popup));
      Update([&](Shared& s) {
        if (s.recorded == s.opened && s.recordedWindow == window) return;
        HMENU menu = popup ? reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0)) : nullptr;
        if (!menu) menu = g_lastInit;
        const std::string text = menu ? Describe(menu) : std::string();
        const std::size_t n = text.size() < sizeof s.text ? text.size() : sizeof s.text - 1;
        text.copy(s.text, n);
        s.text[n] = 0;
        s.length = static_cast<LONG>(n);
        s.recorded = s.opened;
        s.recordedWindow = window;
        ++s.shown;
      });
      break;
    }
    case WM_EXITMENULOOP:
      Update([](Shared& s) { ++s.closed; });
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK KelmMenuSpyProc(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && lp) Seen(*reinterpret_cast<const CWPRETSTRUCT*>(lp));
  return CallNextHookEx(nullptr, code, wp, lp);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

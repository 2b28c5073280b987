// Looks at another process's windows the way a person would see them:
// top-level windows by caption, their controls' texts, a progress bar's
// position. Every message used is one that Wine carries across processes.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

namespace kelm::test {

struct TopWindow {
  HWND hwnd;
  std::string caption;
  bool visible;
};

inline std::vector<TopWindow> ProcessWindows(DWORD pid) {
  struct Ctx {
    DWORD pid;
    std::vector<TopWindow> out;
  } ctx{pid, {}};
  EnumWindows(
      [](HWND w, LPARAM lp) -> BOOL {
        auto* c = reinterpret_cast<Ctx*>(lp);
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner != c->pid) return TRUE;
        char title[256] = {};
        GetWindowTextA(w, title, sizeof title);
        c->out.push_back({w, title, IsWindowVisible(w) != FALSE});
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&ctx));
  return ctx.out;
}

// A visible top-level window of pid with this caption; null when none.
inline HWND VisibleWindow(DWORD pid, const std::string& caption) {
  for (const TopWindow& w : ProcessWindows(pid))
    if (w.visible && w.caption == caption) return w.hwnd;
  return nullptr;
}

inline bool Poll(const std::function<bool()>& done, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= ms) return done();
    Sleep(50);
  }
}

inline HWND WaitVisibleWindow(DWORD pid, const std::string& caption, DWORD ms) {
  HWND found = nullptr;
  Poll([&] { return (found = VisibleWindow(pid, caption)) != nullptr; }, ms);
  return found;
}

inline std::string TextOf(HWND w) {
  char buf[512] = {};
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutA(w, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 3000, &got))
    return "<no answer>";
  return buf;
}

inline std::string ControlText(HWND dlg, int id) {
  HWND c = GetDlgItem(dlg, id);
  return c ? TextOf(c) : "<no control>";
}

inline void SetControlText(HWND dlg, int id, const char* text) {
  SendMessageA(GetDlgItem(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

inline int ProgressPosition(HWND bar) {
  DWORD_PTR pos = 0;
  if (!SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 3000, &pos)) return -1;
  return static_cast<int>(pos);
}

// The text of the message box with this caption (its static control
// 0xFFFF), empty when none is shown.
inline std::string MessageBoxText(DWORD pid, const std::string& caption) {
  HWND box = VisibleWindow(pid, caption);
  return box ? ControlText(box, 0xFFFF) : "";
}

}  // namespace kelm::test

// Drives real dialogs of the test process from a helper thread: finds them by
// caption, fills edit fields, clicks buttons and answers message boxes.
#pragma once
#include <windows.h>

#include <string>

namespace kelmtest {

// A visible top-level dialog window of this process with this caption,
// waited for up to ms milliseconds; null when none appears.
inline HWND WaitDialog(const char* caption, DWORD ms = 10000) {
  struct Search {
    const char* caption;
    HWND found;
  } s{caption, nullptr};
  const DWORD start = GetTickCount();
  do {
    EnumWindows(
        [](HWND w, LPARAM lp) -> BOOL {
          auto* s = reinterpret_cast<Search*>(lp);
          DWORD pid = 0;
          GetWindowThreadProcessId(w, &pid);
          char cls[32] = {}, title[256] = {};
          GetClassNameA(w, cls, sizeof cls);
          GetWindowTextA(w, title, sizeof title);
          if (pid == GetCurrentProcessId() && IsWindowVisible(w) && std::string(cls) == "#32770" &&
              std::string(title) == s->caption) {
            s->found = w;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    if (s.found) return s.found;
    Sleep(20);
  } while (GetTickCount() - start < ms);
  return nullptr;
}

inline void SetItemText(HWND dlg, int id, const char* text) {
  SendMessageA(GetDlgItem(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

inline std::string ItemText(HWND dlg, int id) {
  char buf[512] = {};
  GetDlgItemTextA(dlg, id, buf, sizeof buf);
  return buf;
}

inline std::string WindowText(HWND w) {
  char buf[512] = {};
  GetWindowTextA(w, buf, sizeof buf);
  return buf;
}

// Posted, so that a message box the click opens does not block this thread.
inline void Click(HWND dlg, int id) { PostMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0); }

// Waits until w is gone (or ms passed); true when it is gone.
inline bool WaitGone(HWND w, DWORD ms = 5000) {
  const DWORD start = GetTickCount();
  while (IsWindow(w)) {
    if (GetTickCount() - start > ms) return false;
    Sleep(20);
  }
  return true;
}

// True when w's thread has served a message sent to it and w is still
// shown: a dialog whose button handler was going to end it would be gone
// by then, one that stays is back in its message loop.
inline bool StaysOpen(HWND w, DWORD ms = 5000) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_NORMAL, ms, &result) != 0 && IsWindow(w) &&
         IsWindowVisible(w);
}

struct BoxSeen {
  bool found = false;
  std::string text;
  bool warningIcon = false;
};

// Waits for a message box with this caption, reads its text and icon, and
// presses its OK button.
inline BoxSeen AnswerBox(const char* caption, DWORD ms = 10000) {
  BoxSeen seen;
  HWND box = WaitDialog(caption, ms);
  if (!box) return seen;
  seen.found = true;
  seen.text = ItemText(box, 0xFFFF);  // the message box's text control
  const HICON warning = LoadIconA(nullptr, IDI_WARNING);
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    const HICON icon = reinterpret_cast<HICON>(SendMessageA(c, STM_GETICON, 0, 0));
    char cls[32] = {};
    GetClassNameA(c, cls, sizeof cls);
    if (std::string(cls) == "Static" && icon == warning) seen.warningIcon = true;
  }
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  WaitGone(box);
  return seen;
}

// Closes whatever dialogs of this process are still open (a failed step
// must not leave a modal loop running).
inline void CloseAll() {
  EnumWindows(
      [](HWND w, LPARAM) -> BOOL {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        char cls[32] = {};
        GetClassNameA(w, cls, sizeof cls);
        if (pid == GetCurrentProcessId() && std::string(cls) == "#32770") {
          PostMessageA(w, WM_COMMAND, IDCANCEL, 0);  // message boxes take it too
        }
        return TRUE;
      },
      0);
}

}  // namespace kelmtest

namespace kelmtest {

// Under Xvfb there is no window manager, and Wine waits 2 s for each managed
// window (every dialog and message box) to be withdrawn when it closes.
// Wine reads its per-program "Managed" switch at process start, so the first
// run sets it for this program, runs itself again and removes it afterwards.
// Returns -1 in the run that should execute the tests, else the exit code.
inline int RespawnUnmanaged() {
  constexpr char kMarker[] = "KELMTEST_UNMANAGED";
  if (GetEnvironmentVariableA(kMarker, nullptr, 0) != 0) return -1;
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return -1;
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '\\') base = p + 1;
  const std::string appKey = std::string("Software\\Wine\\AppDefaults\\") + base;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, (appKey + "\\X11 Driver").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return -1;
  RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
  RegCloseKey(key);
  SetEnvironmentVariableA(kMarker, "1");

  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string cmd = GetCommandLineA();
  DWORD code = 1;
  if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  RegDeleteKeyA(HKEY_CURRENT_USER, (appKey + "\\X11 Driver").c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, appKey.c_str());
  return static_cast<int>(code);
}

}  // namespace kelmtest

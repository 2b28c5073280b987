// A Wine desktop with a taskbar, so tray icons are on screen to be seen and
// clicked. Wine gives a taskbar to a virtual desktop named "shell", and to
// any desktop NAME whose key HKCU\Software\Wine\Explorer\Desktops\NAME has
// the DWORD EnableShell = 1. `explorer.exe /desktop=NAME,1024x768` creates
// it (an X window of that size titled "NAME - Wine desktop") and stays as
// its desktop process until the last other process on it has ended, a
// second or two later. Programs started from a process on that desktop
// inherit it.
//
// Tests use a desktop of their own name: one left by the previous test may
// still be closing, and a process that joins it then loses its taskbar.
#pragma once
#include <windows.h>

#include <string>

#include "common/win32/handles.h"
#include "screenshot.h"

namespace kelmtest {

inline std::string ThreadDesktopName() {
  char name[128] = {};
  DWORD n = 0;
  GetUserObjectInformationA(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, name, sizeof name, &n);
  return name;
}

// The taskbar of the named desktop (shown or not), or null.
inline HWND FindTaskbar(const std::string& desktop) {
  HDESK d = OpenDesktopA(desktop.c_str(), 0, FALSE, DESKTOP_READOBJECTS | DESKTOP_ENUMERATE);
  if (!d) return nullptr;
  HWND found = nullptr;
  EnumDesktopWindows(
      d,
      [](HWND w, LPARAM lp) -> BOOL {
        char cls[64] = {};
        GetClassNameA(w, cls, sizeof cls);
        // IsWindowVisible is false for every window of another desktop.
        if (std::string(cls) == "Shell_TrayWnd" && (GetWindowLongA(w, GWL_STYLE) & WS_VISIBLE)) {
          *reinterpret_cast<HWND*>(lp) = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  CloseDesktop(d);
  return found;
}

inline std::string DesktopsKey(const std::string& desktop) {
  return "Software\\Wine\\Explorer\\Desktops\\" + desktop;
}

inline bool EnableTaskbar(const std::string& desktop) {
  kelm::win::RegKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, DesktopsKey(desktop).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS)
    return false;
  const DWORD one = 1;
  return RegSetValueExA(key.get(), "EnableShell", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one) ==
         ERROR_SUCCESS;
}

// Starts a desktop with a taskbar and waits up to ms for its taskbar. The
// returned handle is its desktop process (ending by itself once the last
// process on it has ended); null on failure, when nothing is left running.
inline kelm::win::UniqueHandle StartTaskbarDesktop(const std::string& desktop, int width = 1024, int height = 768,
                                                   DWORD ms = 30000) {
  if (desktop != "shell" && !EnableTaskbar(desktop)) return {};
  std::string cmd = "explorer.exe /desktop=" + desktop + "," + std::to_string(width) + "x" + std::to_string(height);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return {};
  kelm::win::UniqueHandle process(pi.hProcess), thread(pi.hThread);
  const DWORD start = GetTickCount();
  while (!FindTaskbar(desktop)) {
    // A desktop nobody joins would stay for good.
    if (GetTickCount() - start > ms || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
      TerminateProcess(process.get(), 1);
      return {};
    }
    Sleep(50);
  }
  return process;
}

// On a desktop with a taskbar: waits until explorer has painted it (its
// Start button makes the taskbar's picture uneven).
inline bool WaitTaskbarPainted(DWORD ms = 15000) {
  const DWORD start = GetTickCount();
  for (;;) {
    RECT r{};
    HWND bar = FindWindowA("Shell_TrayWnd", nullptr);
    if (bar && IsWindowVisible(bar) && GetWindowRect(bar, &r)) {
      const Image img = CaptureScreen(&r);
      for (auto p : img.px)
        if (p != img.px[0]) return true;
    }
    if (GetTickCount() - start > ms) return false;
    Sleep(50);
  }
}

// For a test program that needs the taskbar. On a desktop that has one it
// waits for the taskbar to be painted and returns -1: go on with the tests.
// Otherwise it starts a desktop of its own ("kelmtest-PID", 1024x768), runs
// this program again on it, and returns that run's exit code.
inline int RespawnOnTaskbarDesktop(int width = 1024, int height = 768) {
  HWND own = FindWindowA("Shell_TrayWnd", nullptr);
  if (own && IsWindowVisible(own)) return WaitTaskbarPainted() ? -1 : 3;
  std::string desktop = "kelmtest-" + std::to_string(GetCurrentProcessId());
  kelm::win::UniqueHandle explorer = StartTaskbarDesktop(desktop, width, height);
  int code = 3;
  if (explorer) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.lpDesktop = desktop.data();
    PROCESS_INFORMATION pi{};
    std::string cmd = GetCommandLineA();
    if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
      kelm::win::UniqueHandle process(pi.hProcess), thread(pi.hThread);
      WaitForSingleObject(pi.hProcess, INFINITE);
      DWORD exitCode = 1;
      GetExitCodeProcess(pi.hProcess, &exitCode);
      code = static_cast<int>(exitCode);
    } else {
      TerminateProcess(explorer.get(), 1);
    }
  }
  RegDeleteKeyA(HKEY_CURRENT_USER, DesktopsKey(desktop).c_str());
  return code;
}

}  // namespace kelmtest

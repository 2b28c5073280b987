// Real X input for Wine test programs: runs xdotool (and other Unix
// commands) on the Unix side from inside a Windows program.
//
// Wine starts a Unix executable named by a \\?\unix\ path with fork and exec
// (no process handle, no exit code, no usable standard handles), even in a
// prefix without the Z: drive. So a small shell script in the temporary
// folder runs the command with its output sent to files and writes the exit
// code last; the Windows side polls for that file. The Unix program inherits
// this process's environment, DISPLAY included.
//
//   std::string out;
//   kelmtest::Xdo("getmouselocation", &out);
//   kelmtest::XFocus(hwnd);            // X focus plus a click into it
//   kelmtest::Xdo("key --delay 0 F12");  // to the focused window
#pragma once
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/win32/handles.h"

namespace kelmtest {

struct UnixRun {
  bool finished = false;  // the script ran to its end within the time allowed
  int rc = -1;            // exit code of the command
  std::string out, err;
};

// The Unix path of a Windows path (Wine's kernel32 converts it); "" outside Wine.
inline std::string UnixPath(const std::string& windowsPath) {
  using ToUnix = char*(CDECL*)(const WCHAR*);
  auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return {};
  WCHAR wide[MAX_PATH] = {};
  if (!MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH)) return {};
  char* unix = toUnix(wide);
  if (!unix) return {};
  std::string path = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return path;
}

namespace detail {

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline bool WriteText(const std::string& path, const std::string& text) {
  kelm::win::UniqueHandle f(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD n = 0;
  return f && WriteFile(f.get(), text.data(), static_cast<DWORD>(text.size()), &n, nullptr) && n == text.size();
}

inline std::string ReadText(const std::string& path) {
  std::string text;
  kelm::win::UniqueHandle f(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  char buf[4096];
  DWORD n = 0;
  while (f && ReadFile(f.get(), buf, sizeof buf, &n, nullptr) && n) text.append(buf, n);
  return text;
}

}  // namespace detail

// Runs a /bin/sh script (its standard input is /dev/null) and waits up to ms
// for it to end. The script should bound its own run time (e.g. with
// timeout(1)): a script still running after ms is left to finish alone.
inline UnixRun RunUnix(const std::string& script, DWORD ms = 20000) {
  UnixRun run;
  static LONG serial = 0;
  char tmp[MAX_PATH] = {};
  if (!GetTempPathA(sizeof tmp, tmp)) return run;
  char name[64];
  std::snprintf(name, sizeof name, "kelmunix-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&serial));
  const std::string dir = std::string(tmp) + name;
  if (!CreateDirectoryA(dir.c_str(), nullptr)) return run;
  const std::string udir = UnixPath(dir);
  bool started = false;
  if (!udir.empty()) {
    const std::string d = detail::ShellQuote(udir);
    // The exit code is written to rc.tmp and renamed, so that rc appears whole.
    const std::string text = "PATH=/usr/local/bin:/usr/bin:/bin; export PATH\n{\n" + script + "\n} >" + d + "/out 2>" +
                             d + "/err </dev/null\necho $? >" + d + "/rc.tmp\nmv " + d + "/rc.tmp " + d + "/rc\n";
    if (detail::WriteText(dir + "\\run.sh", text)) {
      std::string cmd = "\\\\?\\unix\\bin\\sh \"" + udir + "/run.sh\"";
      STARTUPINFOA si{};
      si.cb = sizeof si;
      PROCESS_INFORMATION pi{};
      started =
          CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si, &pi);
      // Wine gives no handles for a Unix program, yet leaves stack leftovers in
      // pi.hThread (seen: 0x1e, 0x52), which are live handles of this process:
      // closing them closed the registry's own key handle. Nothing is closed.
    }
  }
  const std::string rc = dir + "\\rc";
  const DWORD start = GetTickCount();
  while (started) {
    if (GetFileAttributesA(rc.c_str()) != INVALID_FILE_ATTRIBUTES) {
      run.finished = true;
      break;
    }
    if (GetTickCount() - start > ms) break;
    Sleep(2);
  }
  if (run.finished) {
    run.rc = std::atoi(detail::ReadText(rc).c_str());
    run.out = detail::ReadText(dir + "\\out");
    run.err = detail::ReadText(dir + "\\err");
    for (const char* f : {"\\rc", "\\out", "\\err", "\\run.sh"}) DeleteFileA((dir + f).c_str());
    RemoveDirectoryA(dir.c_str());
  }
  return run;
}

// xdotool ARGS (shell words), bounded to limitSeconds. True when it exits
// with 0; *out gets its standard output, or on failure its error output.
inline bool Xdo(const std::string& args, std::string* out = nullptr, int limitSeconds = 15) {
  const UnixRun run = RunUnix("timeout -k 1 " + std::to_string(limitSeconds) + " xdotool " + args,
                              static_cast<DWORD>(limitSeconds + 5) * 1000);
  const bool ok = run.finished && run.rc == 0;
  if (out) *out = ok ? run.out : (run.finished ? run.err : std::string("xdotool did not run"));
  return ok;
}

// The X window (decimal id) behind a top-level window of any Wine process,
// "" when it has none.
inline std::string XWindow(HWND w) {
  const auto id = reinterpret_cast<ULONG_PTR>(GetPropA(w, "__wine_x11_whole_window"));
  return id ? std::to_string(id) : std::string();
}

// Gives w the X input focus and clicks into its client area at (x, y): after
// a focus change Wine can lose the first key unless the window was clicked.
inline bool XFocus(HWND w, int x = 20, int y = 20) {
  const std::string xw = XWindow(w);
  if (xw.empty()) return false;
  POINT p{x, y};
  if (!ClientToScreen(w, &p)) return false;
  // windowfocus --sync and mousemove --sync wait for a change, which never
  // comes when w has the focus already (a new window takes it as it is
  // shown) or the pointer is there already (the last click was there).
  std::string focused;
  const bool has = Xdo("getwindowfocus", &focused) && std::atoll(focused.c_str()) == std::atoll(xw.c_str());
  return Xdo((has ? std::string() : "windowfocus --sync " + xw + " ") + "mousemove " + std::to_string(p.x) +
             " " + std::to_string(p.y) + " click 1");
}

}  // namespace kelmtest

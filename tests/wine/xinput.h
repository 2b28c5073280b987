// Real keyboard and mouse input for Wine test programs: xdotool, run as a
// Unix program from inside Wine. Wine starts a Unix executable named by a
// "\\?\unix\..." path (no drive letter needed, so the bench's missing Z: does
// not matter) but returns no process handle and ignores pipe handles; only
// a file handle reaches the Unix side as standard output. So the command
// runs under /bin/sh, writes its output and then "__kelm_rc=N" into a
// temporary file, and completion is that last line appearing.
#pragma once
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/win32/handles.h"

namespace kelmtest::x {

struct Result {
  bool finished = false;  // the command ran to its end within the time
  int code = -1;          // its exit code
  std::string out;        // standard output and error
  bool ok() const { return finished && code == 0; }
};

// Windows command-line quoting, which Wine undoes into the Unix argv.
inline std::string QuoteArg(const std::string& a) {
  std::string q = "\"";
  std::size_t slashes = 0;
  for (char c : a) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    if (c == '"') q.append(slashes * 2 + 1, '\\');
    else q.append(slashes, '\\');
    slashes = 0;
    q += c;
  }
  q.append(slashes * 2, '\\');
  return q + "\"";
}

inline std::string ReadShared(const std::string& path) {
  kelm::win::UniqueHandle f(CreateFileA(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  std::string s;
  if (!f) return s;
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(f.get(), buf, sizeof buf, &n, nullptr) && n) s.append(buf, n);
  return s;
}

// Runs a Unix shell script with arguments ($1...); bounded by timeoutMs.
inline Result RunUnixShell(const std::string& script, const std::vector<std::string>& args,
                           DWORD timeoutMs = 10000) {
  Result r;
  char dir[MAX_PATH], path[MAX_PATH];
  if (!GetTempPathA(sizeof dir, dir) || !GetTempFileNameA(dir, "kx", 0, path)) return r;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  kelm::win::UniqueHandle out(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          &sa, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
  if (!out) return r;
  std::string cmd = "\\\\?\\unix\\bin\\sh -c " +
                    QuoteArg("PATH=/usr/bin:/bin:$PATH; " + script + "\necho __kelm_rc=$?") + " sh";
  for (const auto& a : args) cmd += " " + QuoteArg(a);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out.get();
  si.hStdError = out.get();
  PROCESS_INFORMATION pi{};
  // No CREATE_NO_WINDOW: Wine then gives a Unix program /dev/null as output.
  const BOOL started =
      CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  // Wine gives no handles for a Unix program, yet leaves stack leftovers in
  // pi.hThread (seen: 0x1e, 0x52), which are live handles of this process:
  // closing them closed the registry's own key handle. Nothing is closed.
  out.reset();
  if (started) {
    const std::string marker = "__kelm_rc=";
    const DWORD start = GetTickCount();
    for (;;) {
      std::string s = ReadShared(path);
      const auto at = s.rfind(marker);
      if (at != std::string::npos && !s.empty() && s.back() == '\n') {
        r.finished = true;
        r.code = std::atoi(s.c_str() + at + marker.size());
        r.out = s.substr(0, at);
        break;
      }
      if (GetTickCount() - start > timeoutMs) {
        r.out = s;
        break;
      }
      Sleep(5);
    }
  }
  DeleteFileA(path);
  return r;
}

inline Result Xdotool(const std::vector<std::string>& args, DWORD timeoutMs = 10000) {
  // The Unix side ends itself before the Windows side stops waiting.
  const DWORD seconds = timeoutMs > 2000 ? timeoutMs / 1000 - 1 : 1;
  return RunUnixShell("timeout " + std::to_string(seconds) + " xdotool \"$@\" 2>&1", args, timeoutMs);
}

inline bool Available() { return Xdotool({"version"}, 10000).ok(); }

// Where this thread's Wine desktop sits on the X screen: a virtual desktop
// is an X window titled "NAME - Wine desktop"; the default desktop is the
// X root itself.
inline POINT DesktopOrigin() {
  static POINT origin = [] {
    POINT p{0, 0};
    char name[128] = {};
    DWORD n = 0;
    if (!GetUserObjectInformationA(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, name, sizeof name, &n))
      return p;
    const Result r = Xdotool({"search", "--name", std::string("^") + name + " - Wine desktop$",
                              "getwindowgeometry", "--shell"});
    int x = 0, y = 0;
    const auto xs = r.out.find("X="), ys = r.out.find("Y=");
    if (r.ok() && xs != std::string::npos && ys != std::string::npos &&
        std::sscanf(r.out.c_str() + xs, "X=%d", &x) == 1 && std::sscanf(r.out.c_str() + ys, "Y=%d", &y) == 1)
      p = POINT{x, y};
    return p;
  }();
  return origin;
}

// The pointer to a point of this desktop (screen coordinates). No --sync:
// it can wait forever when the pointer does not end where asked, and one
// xdotool run sends its requests in order anyway.
inline bool MoveMouse(int x, int y) {
  const POINT o = DesktopOrigin();
  return Xdotool({"mousemove", std::to_string(x + o.x), std::to_string(y + o.y)}).ok();
}

// A real click: the pointer moves there, then button down and up.
inline bool Click(int x, int y, int button = 1) {
  const POINT o = DesktopOrigin();
  return Xdotool({"mousemove", std::to_string(x + o.x), std::to_string(y + o.y), "click",
                  std::to_string(button)})
      .ok();
}

// Keys as a person presses them on a window: the pointer rests on (x, y)
// and the keys go to the window under it. Measured under Wine 8: a key
// reaches a program only through an X window of that program; sent through
// another process's X window (the taskbar under the pointer, or a window
// that kept the X focus after a click) it is lost, even when the program is
// the foreground one. So the X focus is set to PointerRoot ("windowfocus
// 1"; xdotool complains that it cannot read it back, and goes on), which
// hands each key to the X window under the pointer.
inline bool KeysAt(int x, int y, const std::vector<std::string>& keys) {
  const POINT o = DesktopOrigin();
  std::vector<std::string> args{"mousemove", std::to_string(x + o.x), std::to_string(y + o.y), "windowfocus", "1",
                                "key",       "--delay",             "30"};
  args.insert(args.end(), keys.begin(), keys.end());
  return Xdotool(args).ok();
}

// Text typed into a field as a person does: a click into it (at x, y, so
// it has the focus), then the keys, delivered as KeysAt does.
inline bool TypeInto(int x, int y, const std::string& text) {
  const POINT o = DesktopOrigin();
  return Xdotool({"mousemove", std::to_string(x + o.x), std::to_string(y + o.y), "click", "1", "windowfocus", "1",
                  "type", "--delay", "20", text})
      .ok();
}

}  // namespace kelmtest::x

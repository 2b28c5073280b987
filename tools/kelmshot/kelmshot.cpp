// kelmshot [--desktop NAME] [--window TITLE [--wait MS]] [--rect X Y W H] OUT.png
// Saves what the screen of a desktop shows as PNG: all of it, a window's
// rectangle (a top-level window found by its exact title), or a rectangle.
// --desktop picks a desktop of this window station (e.g. "shell", the
// desktop with a taskbar); the default is the one kelmshot runs on.
// Prints "saved OUT.png WxH N colours" (N counted up to 1000, so a script
// can tell a painted screen from an empty one). Exit codes: 0 saved,
// 1 failed, 2 usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>

#include "tests/wine/screenshot.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: kelmshot [--desktop NAME] [--window TITLE [--wait MS]] [--rect X Y W H] OUT.png\n");
  return 2;
}

bool Number(const char* s, long& out) {
  char* end = nullptr;
  out = std::strtol(s, &end, 10);
  return *s && end && !*end;
}

struct Search {
  const std::string* title;
  HWND found;
};

// A named procedure, not a lambda: the i686 build needs its stdcall.
BOOL CALLBACK MatchTitle(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  char text[256] = {};
  GetWindowTextA(w, text, sizeof text);
  if (IsWindowVisible(w) && *s->title == text) {
    s->found = w;
    return FALSE;
  }
  return TRUE;
}

// A visible top-level window with exactly this title, waited for.
HWND FindTitled(const std::string& title, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    Search s{&title, nullptr};
    EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&s));
    if (s.found || GetTickCount() - start >= ms) return s.found;
    Sleep(50);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string desktop, window, out;
  long waitMs = 0;
  bool haveRect = false;
  RECT rect{};
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--desktop" && i + 1 < argc) {
      desktop = argv[++i];
    } else if (a == "--window" && i + 1 < argc) {
      window = argv[++i];
    } else if (a == "--wait" && i + 1 < argc) {
      if (!Number(argv[++i], waitMs) || waitMs < 0) return Usage();
    } else if (a == "--rect" && i + 4 < argc) {
      long v[4];
      for (long& x : v)
        if (!Number(argv[++i], x)) return Usage();
      if (v[2] <= 0 || v[3] <= 0) return Usage();
      rect = RECT{v[0], v[1], v[0] + v[2], v[1] + v[3]};
      haveRect = true;
    } else if (!a.empty() && a[0] != '-' && out.empty()) {
      out = a;
    } else {
      return Usage();
    }
  }
  if (out.empty() || (haveRect && !window.empty())) return Usage();

  if (!desktop.empty()) {
    // Before this thread has any window: a thread with windows cannot move.
    HDESK d = OpenDesktopA(desktop.c_str(), 0, FALSE, GENERIC_ALL);
    if (!d || !SetThreadDesktop(d)) {
      std::fprintf(stderr, "kelmshot: cannot use desktop %s (error %lu)\n", desktop.c_str(), GetLastError());
      return 1;
    }
  }
  if (!window.empty()) {
    HWND w = FindTitled(window, static_cast<DWORD>(waitMs));
    if (!w || !GetWindowRect(w, &rect)) {
      std::fprintf(stderr, "kelmshot: no visible window titled \"%s\"\n", window.c_str());
      return 1;
    }
    haveRect = true;
  }
  const kelmtest::Image img = kelmtest::CaptureScreen(haveRect ? &rect : nullptr);
  if (img.empty() || !kelmtest::SavePng(img, out)) {
    std::fprintf(stderr, "kelmshot: cannot capture or write %s (error %lu)\n", out.c_str(), GetLastError());
    return 1;
  }
  std::unordered_set<std::uint32_t> colours;
  for (auto p : img.px) {
    colours.insert(p);
    if (colours.size() >= 1000) break;
  }
  std::printf("saved %s %dx%d %u colours\n", out.c_str(), img.width, img.height,
              static_cast<unsigned>(colours.size()));
  return 0;
}

// The notification area of Wine's taskbar, seen from outside as a person
// sees it (run the test on the desktop with a taskbar, shelldesktop.h).
//
// Wine 8's explorer paints every tray icon itself into its Shell_TrayWnd:
// cells of SM_CXSMICON+4 by SM_CYSMICON+4 pixels (20x20) side by side from
// the right end, the first icon added rightmost, each icon drawn at 16x16
// with a 2-pixel border on the taskbar's background. Each icon has its own
// tooltip window (tooltips_class32, owned by explorer) that explorer
// shows when the pointer rests on the cell; WM_GETTEXT on it, which user32
// carries across processes, returns the text it shows.
#pragma once
#include <windows.h>

#include <string>

#include "screenshot.h"
#include "shelldesktop.h"
#include "xinput.h"

namespace kelmtest::tray {

inline HWND Taskbar() { return FindWindowA("Shell_TrayWnd", nullptr); }

inline SIZE CellSize() { return SIZE{GetSystemMetrics(SM_CXSMICON) + 4, GetSystemMetrics(SM_CYSMICON) + 4}; }

// Cell `index` (0 = rightmost) in screen coordinates; empty without a taskbar.
inline RECT CellRect(int index) {
  RECT bar{};
  HWND t = Taskbar();
  if (!t || !IsWindowVisible(t) || !GetWindowRect(t, &bar)) return RECT{};
  const SIZE c = CellSize();
  RECT r;
  r.right = bar.right - c.cx * index;
  r.left = r.right - c.cx;
  r.top = bar.top + ((bar.bottom - bar.top) - c.cy) / 2;
  r.bottom = r.top + c.cy;
  return r;
}

// The 16x16 picture inside a cell.
inline RECT IconRect(int index) {
  RECT r = CellRect(index);
  if (r.right > r.left) InflateRect(&r, -2, -2);
  return r;
}

inline Image CellImage(int index) {
  const RECT r = IconRect(index);
  return r.right > r.left ? CaptureScreen(&r) : Image{};
}

// A short name for a picture, for logs and for "has it changed" checks.
inline std::uint32_t Fingerprint(const Image& img) {
  return png::Crc32(reinterpret_cast<const std::uint8_t*>(img.px.data()), img.px.size() * sizeof img.px[0]);
}

// A cell shows nothing when all its pixels have the taskbar's colour.
inline bool CellBlank(int index) {
  const RECT r = CellRect(index);
  if (r.right <= r.left) return true;
  const Image img = CaptureScreen(&r);
  if (img.empty()) return true;
  for (auto p : img.px)
    if (p != img.px[0]) return false;
  return true;
}

// How many icons the tray shows: painted cells counted from the right.
inline int IconCount() {
  int n = 0;
  while (n < 64 && !CellBlank(n)) ++n;
  return n;
}

inline POINT CellCenter(int index) {
  const RECT r = CellRect(index);
  return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// A real click (xdotool) on the cell; button 1 left, 3 right.
inline bool ClickIcon(int index, int button = 1) {
  const POINT p = CellCenter(index);
  return p.x > 0 && x::Click(p.x, p.y, button);
}

// The visible tooltip windows of explorer (the taskbar's process).
inline HWND VisibleTip() {
  struct Search {
    DWORD pid;
    HWND found;
  } s{0, nullptr};
  HWND bar = Taskbar();
  if (!bar) return nullptr;
  GetWindowThreadProcessId(bar, &s.pid);
  EnumWindows(
      [](HWND w, LPARAM lp) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);
        char cls[64] = {};
        GetClassNameA(w, cls, sizeof cls);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == s->pid && std::string(cls) == "tooltips_class32" && IsWindowVisible(w)) {
          s->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

inline std::string WindowTextOf(HWND w) {
  char buf[512] = {};
  DWORD_PTR n = 0;
  if (!SendMessageTimeoutA(w, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, &n))
    return {};
  return std::string(buf, n < sizeof buf ? n : sizeof buf - 1);
}

// Somewhere on the desktop above the taskbar, away from the tray.
inline bool PointerAway() {
  RECT bar{};
  if (!GetWindowRect(Taskbar(), &bar)) return false;
  return x::MoveMouse((bar.left + bar.right) / 3, bar.top / 3);
}

// The tip a person sees when resting the pointer on the icon: moves the
// pointer away (any tip shown goes), then onto the cell, and reads the tip
// explorer shows there. Empty when none appeared within ms. The pointer
// stays on the cell (`tipWindow`, if given, gets the tooltip window).
inline std::string ReadTip(int index, DWORD ms = 8000, HWND* tipWindow = nullptr) {
  const DWORD start = GetTickCount();
  if (!PointerAway()) return {};
  while (VisibleTip() && GetTickCount() - start < ms) Sleep(20);
  const POINT p = CellCenter(index);
  if (p.x <= 0 || !x::MoveMouse(p.x, p.y)) return {};
  while (GetTickCount() - start < ms) {
    if (HWND tip = VisibleTip()) {
      const std::string text = WindowTextOf(tip);
      if (!text.empty()) {
        if (tipWindow) *tipWindow = tip;
        return text;
      }
    }
    Sleep(20);
  }
  return {};
}

// Waits until the icon's tip reads `expected` (each look takes the
// tooltip's delay, about half a second); the last tip seen otherwise.
inline std::string WaitTip(int index, const std::string& expected, DWORD ms = 10000) {
  const DWORD start = GetTickCount();
  std::string seen;
  do {
    seen = ReadTip(index, ms);
    if (seen == expected) break;
  } while (GetTickCount() - start < ms);
  return seen;
}

// The cell whose tip starts with `prefix`, or -1.
inline int FindIconByTip(const std::string& prefix, DWORD msPerIcon = 8000) {
  const int n = IconCount();
  for (int i = 0; i < n; ++i)
    if (ReadTip(i, msPerIcon).rfind(prefix, 0) == 0) return i;
  return -1;
}

// An icon as the tray paints it: 16x16 (scaled like explorer scales it)
// with its transparent parts on `background`.
inline Image RenderIcon(HICON icon, COLORREF background) {
  const int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, cx, cy);
  HGDIOBJ old = SelectObject(mem, bmp);
  HBRUSH brush = CreateSolidBrush(background);
  RECT all{0, 0, cx, cy};
  FillRect(mem, &all, brush);
  DeleteObject(brush);
  DrawIconEx(mem, 0, 0, icon, cx, cy, 0, nullptr, DI_DEFAULTSIZE | DI_NORMAL);
  Image img = CaptureDc(mem, 0, 0, cx, cy);
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return img;
}

// Pixels that differ by more than `tolerance` in any colour channel;
// -1 when the sizes differ.
inline int PixelsDiffering(const Image& a, const Image& b, int tolerance = 8) {
  if (a.width != b.width || a.height != b.height || a.empty()) return -1;
  int n = 0;
  for (std::size_t i = 0; i < a.px.size(); ++i) {
    for (int shift : {0, 8, 16}) {
      const int ca = static_cast<int>((a.px[i] >> shift) & 0xFF), cb = static_cast<int>((b.px[i] >> shift) & 0xFF);
      if (ca - cb > tolerance || cb - ca > tolerance) {
        ++n;
        break;
      }
    }
  }
  return n;
}

// How far the cell's picture is from `icon` drawn on the cell's own
// background (its corner pixel): 0 when it shows exactly that icon.
inline int IconDistance(int index, HICON icon) {
  const RECT cell = CellRect(index);
  if (cell.right <= cell.left) return -1;
  const Image img = CaptureScreen(&cell);
  if (img.empty()) return -1;
  const std::uint32_t bg = img.px[0];
  const Image want = RenderIcon(icon, RGB((bg >> 16) & 0xFF, (bg >> 8) & 0xFF, bg & 0xFF));
  return PixelsDiffering(img.Crop(IconRect(index)), want);
}

// Waits until the cell shows `icon` (at most `maxDiffering` pixels off).
inline bool WaitIcon(int index, HICON icon, DWORD ms = 5000, int maxDiffering = 0) {
  const DWORD start = GetTickCount();
  for (;;) {
    const int d = IconDistance(index, icon);
    if (d >= 0 && d <= maxDiffering) return true;
    if (GetTickCount() - start >= ms) return false;
    Sleep(50);
  }
}

// An icon of a program's resources, e.g. to tell which of its state icons
// a tray program shows (DestroyIcon when done). Load it at the size the
// program gives Shell_NotifyIcon (0: the tray's 16x16; 32 for LoadIcon):
// explorer scales what it gets, and the comparison must scale the same.
inline HICON LoadIconFromFile(const std::string& path, int resourceId, int size = 0) {
  HMODULE m = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!m) return nullptr;
  const int cx = size ? size : GetSystemMetrics(SM_CXSMICON), cy = size ? size : GetSystemMetrics(SM_CYSMICON);
  HICON icon = static_cast<HICON>(LoadImageA(m, MAKEINTRESOURCEA(resourceId), IMAGE_ICON, cx, cy, 0));
  FreeLibrary(m);
  return icon;
}

}  // namespace kelmtest::tray

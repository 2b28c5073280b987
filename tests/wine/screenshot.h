// What is on the screen, as a person would see it: the desktop DC of the
// calling thread's desktop copied into a DIB, and saved as PNG. Under Wine
// the desktop DC shows every process's windows (the X server's picture).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "png.h"

namespace kelmtest {

// Pixels 0x00RRGGBB, top row first; x0/y0 is where it was on the screen.
struct Image {
  int x0 = 0, y0 = 0;
  int width = 0, height = 0;
  std::vector<std::uint32_t> px;

  bool empty() const { return px.empty(); }
  std::uint32_t at(int x, int y) const { return px[static_cast<std::size_t>(y) * width + x]; }
  // The part at screen rectangle r (clipped to this image).
  Image Crop(const RECT& r) const {
    Image out;
    const int left = r.left > x0 ? static_cast<int>(r.left) : x0;
    const int top = r.top > y0 ? static_cast<int>(r.top) : y0;
    const int right = r.right < x0 + width ? static_cast<int>(r.right) : x0 + width;
    const int bottom = r.bottom < y0 + height ? static_cast<int>(r.bottom) : y0 + height;
    if (right <= left || bottom <= top) return out;
    out.x0 = left;
    out.y0 = top;
    out.width = right - left;
    out.height = bottom - top;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) out.px.push_back(at(x - x0, y - y0));
    return out;
  }
};

// Copies a DC's rectangle (DC coordinates) into an Image.
inline Image CaptureDc(HDC src, int x, int y, int w, int h) {
  Image img;
  if (w <= 0 || h <= 0) return img;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(src, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!dib) return img;
  HDC mem = CreateCompatibleDC(src);
  HGDIOBJ old = SelectObject(mem, dib);
  const BOOL ok = BitBlt(mem, 0, 0, w, h, src, x, y, SRCCOPY | CAPTUREBLT);
  GdiFlush();
  if (ok) {
    img.x0 = x;
    img.y0 = y;
    img.width = w;
    img.height = h;
    const auto* p = static_cast<const std::uint32_t*>(bits);
    img.px.assign(p, p + static_cast<std::size_t>(w) * h);
    for (auto& v : img.px) v &= 0xFFFFFF;
  }
  SelectObject(mem, old);
  DeleteDC(mem);
  DeleteObject(dib);
  return img;
}

// The whole screen of this thread's desktop, or the part `area` (screen
// coordinates) of it.
inline Image CaptureScreen(const RECT* area = nullptr) {
  RECT r{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (area) r = *area;
  HDC screen = GetDC(nullptr);
  if (!screen) return {};
  Image img = CaptureDc(screen, r.left, r.top, r.right - r.left, r.bottom - r.top);
  ReleaseDC(nullptr, screen);
  return img;
}

inline bool WriteShotFile(const std::string& path, const std::string& bytes) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  const BOOL ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  CloseHandle(f);
  return ok && n == bytes.size();
}

inline bool SavePng(const Image& img, const std::string& path) {
  if (img.empty()) return false;
  const std::string data = png::Encode(img.width, img.height, img.px);
  return !data.empty() && WriteShotFile(path, data);
}

inline bool SaveScreenPng(const std::string& path, const RECT* area = nullptr) {
  return SavePng(CaptureScreen(area), path);
}

// The window's rectangle as the screen shows it (what covers it included).
inline bool SaveWindowPng(const std::string& path, HWND w) {
  RECT r;
  return GetWindowRect(w, &r) && SaveScreenPng(path, &r);
}

}  // namespace kelmtest

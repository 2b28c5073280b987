// A screen rectangle saved as PNG (uncompressed deflate blocks): a stand-in
// for the shared screenshot equipment, kept in this one file so that it can
// be swapped for it.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kelmtest::pngshot {

inline std::uint32_t Crc32(const std::string& data, std::size_t from) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = from; i < data.size(); ++i) {
    c ^= static_cast<std::uint8_t>(data[i]);
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

inline void Be32(std::string& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out += static_cast<char>((v >> s) & 0xFF);
}

inline void Chunk(std::string& out, const char* type, const std::string& data) {
  Be32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out += type;
  out += data;
  Be32(out, Crc32(out, start));
}

// rgb: width*height pixels 0x00RRGGBB, top row first.
inline std::string Encode(int width, int height, const std::vector<std::uint32_t>& rgb) {
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw += '\0';  // filter: none
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = rgb[static_cast<std::size_t>(y) * width + x];
      raw += static_cast<char>((p >> 16) & 0xFF);
      raw += static_cast<char>((p >> 8) & 0xFF);
      raw += static_cast<char>(p & 0xFF);
    }
  }
  std::string z = "\x78\x01";
  std::uint32_t a = 1, b = 0;
  for (char ch : raw) {
    a = (a + static_cast<std::uint8_t>(ch)) % 65521u;
    b = (b + a) % 65521u;
  }
  for (std::size_t pos = 0; pos < raw.size();) {
    const std::size_t n = raw.size() - pos > 65535 ? 65535 : raw.size() - pos;
    z += static_cast<char>(pos + n == raw.size() ? 1 : 0);
    z += static_cast<char>(n & 0xFF);
    z += static_cast<char>(n >> 8);
    z += static_cast<char>(~n & 0xFF);
    z += static_cast<char>((~n >> 8) & 0xFF);
    z.append(raw, pos, n);
    pos += n;
  }
  Be32(z, (b << 16) | a);
  std::string ihdr;
  Be32(ihdr, static_cast<std::uint32_t>(width));
  Be32(ihdr, static_cast<std::uint32_t>(height));
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
  std::string png("\x89PNG\r\n\x1a\n", 8);
  Chunk(png, "IHDR", ihdr);
  Chunk(png, "IDAT", z);
  Chunk(png, "IEND", "");
  return png;
}

// The screen's rectangle r (what a person sees there) into a PNG file.
inline bool SaveScreenPng(const std::string& path, const RECT& r) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  if (!screen) return false;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  std::vector<std::uint32_t> px;
  if (dib) {
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, dib);
    ok = BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != FALSE;
    GdiFlush();
    if (ok) {
      const auto* p = static_cast<const std::uint32_t*>(bits);
      px.assign(p, p + static_cast<std::size_t>(w) * h);
    }
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(dib);
  }
  ReleaseDC(nullptr, screen);
  if (!ok) return false;
  const std::string png = Encode(w, h, px);
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  ok = WriteFile(f, png.data(), static_cast<DWORD>(png.size()), &n, nullptr) && n == png.size();
  CloseHandle(f);
  return ok;
}

inline bool SaveWindowPng(const std::string& path, HWND w) {
  RECT r;
  return GetWindowRect(w, &r) && SaveScreenPng(path, r);
}

}  // namespace kelmtest::pngshot

#include "common/win32/banner.h"

#include <cstring>

namespace kelm::win {
namespace {

using Font = Owner<HFONT, NullHandleTraits<HFONT, &::DeleteObject>>;
using Brush = Owner<HBRUSH, NullHandleTraits<HBRUSH, &::DeleteObject>>;
using MemDc = Owner<HDC, NullHandleTraits<HDC, &::DeleteDC>>;

// Keeps an object selected into a DC for a scope.
class Selected {
 public:
  Selected(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
  ~Selected() { SelectObject(dc_, old_); }
  Selected(const Selected&) = delete;
  Selected& operator=(const Selected&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

Font TextFont(int height, int weight) {
  return Font(CreateFontA(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET, 0, 0, ANTIALIASED_QUALITY, 0,
                          "Tahoma"));
}

}  // namespace

Bitmap MakeBanner(HWND dlg, HWND control, HICON icon, const char* title, const char* tagline) {
  RECT r{};
  if (control) GetClientRect(control, &r);
  RECT dr{};
  GetClientRect(dlg, &dr);
  const int w = dr.right, h = r.bottom > 0 ? r.bottom : 60;
  if (w <= 0) return Bitmap();
  HDC screen = GetDC(dlg);
  if (!screen) return Bitmap();
  MemDc dc(CreateCompatibleDC(screen));
  Bitmap bmp(CreateCompatibleBitmap(screen, w, h));
  ReleaseDC(dlg, screen);
  if (!dc || !bmp) return Bitmap();
  {
    Selected inBmp(dc.get(), bmp.get());
    for (int x = 0; x < w; x += 2) {
      const int t = x * 255 / (w > 1 ? w : 1);
      Brush band(CreateSolidBrush(RGB(20 + t / 6, 50 + t / 3, 90 + t / 4)));
      RECT strip{x, 0, x + 2, h};
      if (band) FillRect(dc.get(), &strip, band.get());
    }
    const int iconSize = h - 16 > 16 ? h - 16 : 16;
    if (icon) DrawIconEx(dc.get(), 12, 8, icon, iconSize, iconSize, 0, nullptr, DI_NORMAL);
    SetBkMode(dc.get(), TRANSPARENT);
    const bool twoLines = tagline && *tagline;
    if (title && *title) {
      Font font = TextFont(h * 2 / 5, FW_BOLD);
      Selected inFont(dc.get(), font.get());
      SetTextColor(dc.get(), RGB(255, 255, 255));
      // Alone, the title sits in the middle of the banner's height.
      const int y = twoLines ? 6 : (h - h * 2 / 5) / 2 - 2;
      TextOutA(dc.get(), iconSize + 24, y, title, static_cast<int>(std::strlen(title)));
    }
    if (twoLines) {
      Font font = TextFont(h / 5, FW_NORMAL);
      Selected inFont(dc.get(), font.get());
      SetTextColor(dc.get(), RGB(200, 225, 245));
      TextOutA(dc.get(), iconSize + 26, h * 3 / 5, tagline, static_cast<int>(std::strlen(tagline)));
    }
  }
  return bmp;
}

}  // namespace kelm::win

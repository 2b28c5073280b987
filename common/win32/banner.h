// A banner across the top of a dialog, drawn at run time: a colour
// gradient to the dialog's own width, an icon, a title and an optional line
// under it. Drawn rather than stored, so that it fits whatever size the
// dialog's font gives the dialog.
#pragma once
#include <windows.h>

#include "common/win32/handles.h"

namespace kelm::win {

// As wide as dlg's client area and as high as control (60 when it has no
// height); icon and tagline may be null.
Bitmap MakeBanner(HWND dlg, HWND control, HICON icon, const char* title, const char* tagline);

}  // namespace kelm::win

// keylog.exe, test equipment: a top-level window with an edit box that counts
// the keyboard messages its thread receives. Tests and the hot-key benchmark
// ask it for the counts with SendMessage to its main window.
#pragma once
#include <windows.h>

namespace keylog {

constexpr char kClass[] = "KelmKeyLog";

// Queries, answered with the count as the result.
constexpr UINT kDowns = WM_APP + 1;           // wParam: virtual-key code; presses and repeats
constexpr UINT kUps = WM_APP + 2;             // wParam: virtual-key code; releases
constexpr UINT kTotal = WM_APP + 3;           // every key message
constexpr UINT kLookups = WM_APP + 4;         // FindWindowA calls of the watched libraries; -1 while none is loaded
constexpr UINT kReset = WM_APP + 5;           // all counts back to 0, the edit box emptied
constexpr UINT kFocused = WM_APP + 6;         // 1 when the edit box has the keyboard focus
constexpr UINT kThreadMessages = WM_APP + 7;  // WM_USER and up posted to the thread itself (no window)
// wParam: a total of key messages; lParam: a window. keylog posts kNotify
// (wParam: the total) to that window once it has counted that many.
constexpr UINT kNotify = WM_APP + 8;

}  // namespace keylog

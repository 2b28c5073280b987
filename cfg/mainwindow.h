// The hidden main window "Virtual Disk Manager": owns the tray icon, the
// timers, the service link and the dialogs, and answers the messages of
// the suite's other programs.
#pragma once
#include <windows.h>

namespace kelm::cfg {

// Window messages of the main window.
inline constexpr UINT kMsgTrayCallback = 0x0401;
inline constexpr UINT kMsgDriveLetters = 0x7000;
inline constexpr UINT kMsgReloadProtection = 0x800A;
inline constexpr UINT kMsgHotKey = 13410;

// Windows the program runs on, as KelmCfg tells them apart.
enum OsKind : int { kOsWin98 = 9598, kOsWin2000 = 2000, kOsWinXp = 2001, kOsOther = -1 };
int DetectOsKind();

// Runs the main window modally; the process ends when it returns.
INT_PTR RunMainWindow(HINSTANCE instance);

}  // namespace kelm::cfg

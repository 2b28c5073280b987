// KelmCfg: the tray program every user of the suite meets.
#include <windows.h>
#include <commctrl.h>

#include "cfg/mainwindow.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  return static_cast<int>(kelm::cfg::RunMainWindow(instance));
}
